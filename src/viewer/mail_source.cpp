#include "viewer/mail_source.h"

#include "store/numeric_text.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora::exchange {
namespace {

// How much of an mbox is read at a time; a stop is looked at in between.
constexpr qint64 kChunk = qint64(1) << 20;
// A "From " line that starts a mail is short; a longer one is read as one
// without being kept.
constexpr qint64 kMaxSeparatorLine = 64 * 1024;

const QString kTooLarge = QStringLiteral("大きすぎるため読み込みませんでした（%1 MB、上限 %2 MB）");

} // namespace

bool isQuotableFrom(QByteArrayView line)
{
    qsizetype i = 0;
    while (i < line.size() && line[i] == '>') {
        ++i;
    }
    return line.sliced(i).startsWith("From ");
}

void MboxSplitter::feed(QByteArrayView bytes, QList<Mail>& out)
{
    while (!bytes.isEmpty()) {
        const qsizetype newline = bytes.indexOf('\n');
        const QByteArrayView piece = newline < 0 ? bytes : bytes.first(newline);
        if (!pendingTooLong_) {
            // The line and the mail so far stay within the bound together; a
            // "From " line is short, and never makes the mail before it too
            // large.
            QByteArray head = pending_.left(5);
            head.append(piece.first(std::min<qsizetype>(piece.size(), 5 - head.size())));
            const bool separator = head.startsWith("From ");
            const qint64 room = separator ? kMaxSeparatorLine : max_ - mail_.size();
            if (pending_.size() + piece.size() > room) {
                pendingTooLong_ = true;
                size_ += pending_.size();
                if (!separator && inMail_) {
                    tooLarge_ = true;
                    mail_.clear();
                    mail_.squeeze();
                }
                pending_.truncate(8); // enough to tell a "From " line when it ends
                pending_.squeeze();
            }
        }
        if (pendingTooLong_) {
            if (pending_.size() < 8) {
                pending_.append(
                    piece.first(std::min<qsizetype>(piece.size(), 8 - pending_.size())));
            }
            size_ += piece.size();
        } else {
            pending_.append(piece);
        }
        if (newline < 0) {
            return;
        }
        line(pending_, !pendingTooLong_, out);
        pending_.clear();
        pendingTooLong_ = false;
        bytes = bytes.sliced(newline + 1);
    }
}

void MboxSplitter::finish(QList<Mail>& out)
{
    if (!pending_.isEmpty() || pendingTooLong_) {
        line(pending_, !pendingTooLong_, out);
        pending_.clear();
        pendingTooLong_ = false;
    }
    if (inMail_) {
        endMail(out);
    }
}

void MboxSplitter::line(QByteArrayView text, bool whole, QList<Mail>& out)
{
    if (text.endsWith('\r')) {
        text.chop(1);
    }
    if (text.startsWith("From ")) {
        if (inMail_) {
            endMail(out);
        }
        inMail_ = true;
        ++number_;
        mail_.clear();
        size_ = 0;
        tooLarge_ = false;
        return;
    }
    if (!inMail_) {
        return; // before the first mail: not part of one
    }
    if (whole) {
        size_ += text.size() + 2;
    }
    if (tooLarge_ || !whole) {
        tooLarge_ = true;
        return;
    }
    if (text.startsWith('>') && isQuotableFrom(text)) { // a quoted "From " line
        text = text.sliced(1);
    }
    if (mail_.size() + text.size() + 2 > max_) {
        tooLarge_ = true;
        mail_.clear();
        mail_.squeeze();
        return;
    }
    mail_.append(text);
    mail_.append("\r\n", 2);
}

void MboxSplitter::endMail(QList<Mail>& out)
{
    // The empty line before the next "From " line is the mbox's.
    if (mail_.endsWith("\r\n\r\n")) {
        mail_.chop(2);
    }
    Mail mail;
    mail.number = number_;
    mail.size = size_;
    mail.tooLarge = tooLarge_;
    if (!tooLarge_) {
        mail.bytes = std::move(mail_);
    }
    mail_ = QByteArray();
    inMail_ = false;
    out.append(std::move(mail));
}

QList<QByteArray> splitMbox(const QByteArray& mbox)
{
    MboxSplitter splitter(qint64(1) << 40);
    QList<MboxSplitter::Mail> mails;
    splitter.feed(mbox, mails);
    splitter.finish(mails);
    QList<QByteArray> out;
    out.reserve(mails.size());
    for (MboxSplitter::Mail& mail : mails) {
        out.append(std::move(mail.bytes));
    }
    return out;
}

SourceKind folderKind(const QString& folder)
{
    const QDir dir(folder);
    if (dir.exists(QStringLiteral("cur")) && dir.exists(QStringLiteral("new"))) {
        return SourceKind::Maildir;
    }
    static const QRegularExpression number(QStringLiteral("^[1-9][0-9]*$"));
    const QStringList files = dir.entryList(QDir::Files | QDir::System);
    const bool numbered = std::any_of(files.begin(), files.end(), [](const QString& name) {
        return number.match(name).hasMatch();
    });
    return numbered && !std::any_of(files.begin(), files.end(),
                                    [](const QString& name) {
                                        return name.endsWith(QStringLiteral(".eml"),
                                                             Qt::CaseInsensitive);
                                    })
               ? SourceKind::Mh
               : SourceKind::EmlFolder;
}

QStringList mailFiles(const QString& folder, SourceKind kind)
{
    // Every entry, whatever it is: pipes, devices, sockets and links that
    // lead nowhere are listed too, so that they can be named when passed over.
    const QDir::Filters entries = QDir::Files | QDir::System;
    const QDir dir(folder);
    QStringList paths;
    if (kind == SourceKind::Maildir) {
        for (const QString& sub : {QStringLiteral("cur"), QStringLiteral("new")}) {
            QStringList names = QDir(dir.filePath(sub)).entryList(entries, QDir::Name);
            for (const QString& name : names) {
                paths.append(dir.filePath(sub + u'/' + name));
            }
        }
        return paths;
    }
    if (kind == SourceKind::Mh) {
        static const QRegularExpression number(QStringLiteral("^[1-9][0-9]*$"));
        QList<qint64> numbers;
        for (const QString& name : dir.entryList(entries)) {
            if (number.match(name).hasMatch()) {
                numbers.append(name.toLongLong());
            }
        }
        std::sort(numbers.begin(), numbers.end());
        for (const qint64 n : numbers) {
            paths.append(dir.filePath(QString::number(n)));
        }
        return paths;
    }
    QStringList names = dir.entryList({QStringLiteral("*.eml")}, entries);
    QCollator collator;
    collator.setNumericMode(true);
    std::sort(names.begin(), names.end(), collator);
    for (const QString& name : names) {
        paths.append(dir.filePath(name));
    }
    return paths;
}

QByteArray withCrlf(const QByteArray& mail)
{
    QByteArray out;
    out.reserve(mail.size() + mail.size() / 40);
    for (qsizetype i = 0; i < mail.size(); ++i) {
        const char c = mail[i];
        if (c == '\n' && (i == 0 || mail[i - 1] != '\r')) {
            out += '\r';
        }
        out += c;
    }
    return out;
}

MailSource::MailSource(MailSource&&) noexcept = default;
MailSource& MailSource::operator=(MailSource&&) noexcept = default;
MailSource::~MailSource() = default;

Result<MailSource> MailSource::open(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        return Status{StoreError::NotFound, QStringLiteral("%1 が見つかりません。").arg(path)};
    }
    MailSource source;
    if (S_ISDIR(st.st_mode)) {
        source.folder_ = QFileInfo(path).canonicalFilePath();
        source.files_ = mailFiles(source.folder_, folderKind(source.folder_));
        source.total_ = source.files_.size();
        return source;
    }
    // Opened without waiting (a pipe would wait for a writer for good), then
    // checked on the open file itself.
    const int fd =
        S_ISREG(st.st_mode) ? ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    struct stat opened {};
    if (fd < 0 || ::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return Status{StoreError::OpenFailed,
                      S_ISREG(st.st_mode) ? QStringLiteral("%1 を読み取れません。").arg(path)
                                          : QStringLiteral("%1 は通常のファイルではありません"
                                                           "（パイプ、装置、ソケットなど）。")
                                                .arg(path)};
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    source.mbox_ = std::make_unique<QFile>();
    if (!source.mbox_->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Status{StoreError::OpenFailed, QStringLiteral("%1 を読み取れません。").arg(path)};
    }
    source.splitter_ = std::make_unique<MboxSplitter>();
    source.total_ = opened.st_size;
    return source;
}

std::optional<QByteArray> MailSource::next(const std::atomic_bool* cancel)
{
    return mbox_ ? nextFromMbox(cancel) : nextFromFolder(cancel);
}

std::optional<QByteArray> MailSource::nextFromMbox(const std::atomic_bool* cancel)
{
    for (;;) {
        while (!ready_.isEmpty()) {
            MboxSplitter::Mail mail = ready_.takeFirst();
            if (mail.tooLarge) {
                passOver(QStringLiteral("%1 通目のメール").arg(mail.number),
                         kTooLarge.arg(text::megabytes(mail.size), text::megabytes(kMaxMailBytes)));
                continue;
            }
            ++delivered_;
            return std::move(mail.bytes);
        }
        if (ended_ || (cancel && cancel->load())) {
            return std::nullopt;
        }
        const QByteArray chunk = mbox_->read(kChunk);
        if (chunk.isEmpty()) {
            if (mbox_->error() != QFileDevice::NoError) {
                passOver(
                    mbox_->fileName().isEmpty() ? QStringLiteral("mbox") : mbox_->fileName(),
                    QStringLiteral("途中から読み取れませんでした（%1）").arg(mbox_->errorString()));
            }
            splitter_->finish(ready_);
            ended_ = true;
            continue;
        }
        splitter_->feed(chunk, ready_);
    }
}

std::optional<QByteArray> MailSource::nextFromFolder(const std::atomic_bool* cancel)
{
    while (nextFile_ < files_.size()) {
        if (cancel && cancel->load()) {
            return std::nullopt;
        }
        const QString path = files_[nextFile_++];
        const QString name = QDir(folder_).relativeFilePath(path);
        QByteArray target = QFile::encodeName(path);
        struct stat st {};
        if (::lstat(target.constData(), &st) != 0) {
            passOver(name, QStringLiteral("見つかりません"));
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            // A link is followed only to a file inside the chosen folder.
            char resolved[PATH_MAX];
            if (::realpath(target.constData(), resolved) == nullptr) {
                passOver(name, errno == ELOOP ? QStringLiteral("リンクが循環しています")
                                              : QStringLiteral("リンク先がありません"));
                continue;
            }
            const QString inside = QFile::decodeName(resolved);
            if (!inside.startsWith(folder_ + u'/')) {
                passOver(name,
                         QStringLiteral("フォルダの外を指すリンクのため読み込みませんでした"));
                continue;
            }
            target = resolved;
        }
        const int fd = ::open(target.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            passOver(name, errno == EACCES ? QStringLiteral("読み取る権限がありません")
                                           : QStringLiteral("読み取れません"));
            continue;
        }
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            passOver(name,
                     QStringLiteral("通常のファイルではありません（パイプ、装置、ソケットなど）"));
            continue;
        }
        if (opened.st_size > kMaxMailBytes) {
            ::close(fd);
            passOver(name, kTooLarge.arg(text::megabytes(opened.st_size),
                                         text::megabytes(kMaxMailBytes)));
            continue;
        }
        QFile file;
        if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            passOver(name, QStringLiteral("読み取れません"));
            continue;
        }
        const QByteArray bytes = file.read(kMaxMailBytes + 1);
        if (file.error() != QFileDevice::NoError) {
            passOver(name, QStringLiteral("読み取れません"));
            continue;
        }
        if (bytes.size() > kMaxMailBytes) {
            passOver(name,
                     kTooLarge.arg(text::megabytes(bytes.size()), text::megabytes(kMaxMailBytes)));
            continue;
        }
        ++delivered_;
        return withCrlf(bytes);
    }
    return std::nullopt;
}

void MailSource::passOver(const QString& where, const QString& why)
{
    passedOver_.append(where + QStringLiteral(": ") + why);
}

bool MailSource::heldNoMail() const
{
    const bool readThrough = mbox_ ? ended_ : nextFile_ == files_.size();
    return readThrough && delivered_ == 0 && passedOver_.isEmpty();
}

qint64 MailSource::done() const
{
    return mbox_ ? mbox_->pos() : nextFile_;
}

} // namespace lumora::exchange
