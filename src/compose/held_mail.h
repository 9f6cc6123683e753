#pragma once

#include "store/record_owner.h"
#include "store/status.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// The held-mail file `krddata10.data`: mails written but not sent yet, one
// MailRecord each, the recipient in the From field. Every operation opens the
// file, works and closes it; every write takes the file's turn.
namespace lumora::compose {

struct HeldMail {
    QString to;
    QString subject;
    QString body;
};

class HeldMailFile {
public:
    // Record numbers are 16-bit.
    static constexpr qint64 kMaxMails = 32767;

    HeldMailFile(QString path, QString tempPath);

    // The subject of every whole record in file order, as stored (padding
    // kept, cut at NUL); the file is created empty when missing.
    Result<QStringList> subjects() const;
    // Mail n, each text trimmed of spaces.
    Result<HeldMail> read(qint64 n) const;
    // Mail n's record as it is now, for a deletion to check against.
    Result<ChosenRecord> chosen(qint64 n) const;
    // The mail a record holds, each text trimmed of spaces.
    static HeldMail mailOf(const QByteArray& record);
    // Writes the mail after the last record, each text trimmed and cut to its
    // field, the time of holding in Date. Returns its number; BadArgument
    // when the file is full.
    Result<qint64> hold(const HeldMail& mail, const QDateTime& when) const;
    // Deletes the chosen mail (as read before the user was asked) through
    // the temporary file; Changed, and nothing deleted, when the record is
    // no longer that mail.
    Status remove(const ChosenRecord& chosen, const CompactHook& hook = {}) const;

private:
    std::shared_ptr<RecordOwner> owner_;
    RecordFile file_;
    QString tempPath_;
};

// What holding the mail would lose, one sentence per field that does not fit
// its field or holds a character the file cannot keep; empty when nothing.
QStringList heldMailLosses(const HeldMail& mail);

// A time as mail headers write it: "Tue, 08 Dec 2026 14:05:00 +0900".
QString rfc5322Date(const QDateTime& when);

} // namespace lumora::compose
