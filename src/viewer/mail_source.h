#pragma once

#include "store/status.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>

class QFile;

// Mail coming in from other programs' files: an mbox (either quoting of
// "From " lines), a folder of .eml files, a Maildir, an MH folder. Whatever
// the files hold, reading them cannot hang or run out of memory: an mbox is
// read as a stream, a mail larger than kMaxMailBytes is passed over, and
// what is not a plain file inside the chosen folder (a pipe, a device, a
// socket, a link leading out of the folder, one that leads nowhere) is
// passed over too, each with the reason, for the summary.
namespace lumora::exchange {

// The largest mail taken in: decoding one takes a few times its size in
// memory.
inline constexpr qint64 kMaxMailBytes = qint64(20) << 20;

// Splits an mbox given in pieces into its mails, each with CR LF line ends
// and the quoting of its "From " lines taken off. Holds at most one mail
// (and never more than kMaxMailBytes of it) at a time.
class MboxSplitter {
public:
    struct Mail {
        QByteArray bytes; // empty when too large
        int number = 0;   // from 1, in the file's order
        qint64 size = 0;  // its bytes in the file
        bool tooLarge = false;
    };

    explicit MboxSplitter(qint64 maxMailBytes = kMaxMailBytes) : max_(maxMailBytes) {}
    // The mails completed by these bytes are appended to out.
    void feed(QByteArrayView bytes, QList<Mail>& out);
    // The end of the file: the last mail.
    void finish(QList<Mail>& out);
    // True when no line began a mail.
    bool sawNoMail() const { return number_ == 0; }

private:
    void line(QByteArrayView text, bool whole, QList<Mail>& out);
    void endMail(QList<Mail>& out);

    qint64 max_;
    QByteArray pending_; // an unfinished line
    bool pendingTooLong_ = false;
    bool inMail_ = false;
    int number_ = 0;
    QByteArray mail_;
    qint64 size_ = 0;
    bool tooLarge_ = false;
};

// True for a line that mboxrd quotes: "From " after any number of '>'.
bool isQuotableFrom(QByteArrayView line);

// The mails of an mbox held in memory (either quoting), each with CR LF line
// ends.
QList<QByteArray> splitMbox(const QByteArray& mbox);

enum class SourceKind { Mbox, EmlFolder, Maildir, Mh };
// What a folder holds: a Maildir (cur, new), an MH folder (numbered files),
// else .eml files.
SourceKind folderKind(const QString& folder);
// The names of a folder's mail files, in their order, whatever kind of file
// each turns out to be.
QStringList mailFiles(const QString& folder, SourceKind kind);
// The mail of a file, with CR LF line ends.
QByteArray withCrlf(const QByteArray& mail);

// The mails of an mbox file or of a folder, read one by one.
class MailSource {
public:
    // Refuses (NotRegular, in the status's detail) an mbox that is not a
    // plain file, and a path that cannot be read.
    static Result<MailSource> open(const QString& path);
    MailSource(MailSource&&) noexcept;
    MailSource& operator=(MailSource&&) noexcept;
    ~MailSource();

    // The next mail, with CR LF line ends, or nothing at the end (or once
    // cancel is set: it is looked at between reads of a megabyte).
    std::optional<QByteArray> next(const std::atomic_bool* cancel = nullptr);
    // What was passed over, one line each: "where: why".
    const QStringList& passedOver() const { return passedOver_; }
    // True when the source was read to its end and held no mail at all (and
    // nothing was passed over).
    bool heldNoMail() const;
    // How far reading has come, and the whole, in the same units (bytes of
    // an mbox, files of a folder).
    qint64 done() const;
    qint64 total() const { return total_; }

private:
    MailSource() = default;
    std::optional<QByteArray> nextFromMbox(const std::atomic_bool* cancel);
    std::optional<QByteArray> nextFromFolder(const std::atomic_bool* cancel);
    void passOver(const QString& where, const QString& why);

    std::unique_ptr<QFile> mbox_;
    std::unique_ptr<MboxSplitter> splitter_;
    QList<MboxSplitter::Mail> ready_;
    bool ended_ = false;
    QString folder_; // canonical
    QStringList files_;
    qsizetype nextFile_ = 0;
    int delivered_ = 0;
    qint64 total_ = 0;
    QStringList passedOver_;
};

} // namespace lumora::exchange
