#include "viewer/mail_exchange.h"

#include "mail/attachment_files.h"
#include "mail/mime_composer.h"
#include "store/file_io.h"
#include "store/text_codec.h"

#include <QCollator>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>

namespace lumora::exchange {
namespace {

// The "From " line of an mbox entry: the sender's address and the time in
// the form asctime() writes.
QByteArray fromLine(const QByteArray& mail)
{
    QByteArray sender = "MAILER-DAEMON";
    QDateTime when;
    qsizetype end = mail.size();
    for (const char* separator : {"\r\n\r\n", "\n\n"}) {
        const qsizetype at = mail.indexOf(separator);
        if (at >= 0 && at < end) {
            end = at;
        }
    }
    for (const QByteArray& rawLine : mail.left(end).split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.toLower().startsWith("from:")) {
            static const QRegularExpression address(QStringLiteral("[^\\s<>\"]+@[^\\s<>\"]+"));
            const auto match = address.match(QString::fromLatin1(line.mid(5)));
            if (match.hasMatch()) {
                sender = match.captured(0).toLatin1();
            }
        } else if (line.toLower().startsWith("date:") && !when.isValid()) {
            when =
                QDateTime::fromString(QString::fromLatin1(line.mid(5)).trimmed(), Qt::RFC2822Date);
        }
    }
    if (!when.isValid()) {
        when = QDateTime::currentDateTimeUtc();
    }
    return "From " + sender + ' ' +
           QLocale::c()
               .toString(when.toUTC(), QStringLiteral("ddd MMM d hh:mm:ss yyyy"))
               .toLatin1();
}

QString numberedName(int n, const MailRecord& record)
{
    const QString subject = text::trimSpaces(text::CutAtNul(record.subject()));
    const QString name = QStringLiteral("%1 %2").arg(n, 4, 10, QLatin1Char('0')).arg(subject);
    return attachments::safeFileName(text::cutCharacters(name.trimmed(), 60) +
                                     QStringLiteral(".eml"));
}

} // namespace

QByteArray messageFromRecord(const MailRecord& record)
{
    const auto field = [](const QString& text) {
        return text::trimSpaces(text::CutAtNul(text));
    };
    return mime::mailFromTexts(field(record.from()), field(record.date()), field(record.subject()),
                               field(record.body()));
}

QByteArray mailBytes(qint64 n, const MailRecord& record, const Originals& originals)
{
    if (std::optional<QByteArray> original = originals.read(n, record.bytes())) {
        return std::move(*original);
    }
    return messageFromRecord(record);
}

QByteArray mboxEntry(const QByteArray& mail)
{
    QByteArray out = fromLine(mail) + '\n';
    out.reserve(mail.size() + 100);
    const QList<QByteArray> lines = mail.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (i + 1 == lines.size() && line.isEmpty()) {
            break; // the mail's own last line end
        }
        if (isQuotableFrom(line)) {
            out += '>';
        }
        out += line + '\n';
    }
    return out + '\n';
}

Records recordsOf(const RecordFile& file)
{
    return [file](const Visit& visit) {
        bool going = true; // the file is read once; after a stop the rest is passed over
        return file.forEach([&](qint64 n, const QByteArray& bytes) {
            going = going && visit(n, MailRecord::fromBytes(bytes));
        });
    };
}

Records recordsOf(const QList<MailRecord>& records)
{
    return [records](const Visit& visit) {
        for (qsizetype i = 0; i < records.size(); ++i) {
            if (!visit(i + 1, records[i])) {
                break;
            }
        }
        return Status::success();
    };
}

Records recordOf(qint64 n, const MailRecord& record)
{
    return [n, record](const Visit& visit) {
        visit(n, record);
        return Status::success();
    };
}

ExportOutcome exportMbox(const Records& records, int total, const Originals& originals,
                         const QString& path, const Progress& progress)
{
    // Mail by mail into a file that replaces the old one only when whole.
    ExportOutcome outcome;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        outcome.status = {StoreError::OpenFailed, path};
        return outcome;
    }
    Status read = records([&](qint64 n, const MailRecord& record) {
        if (progress && !progress(outcome.written, total)) {
            outcome.status = {StoreError::Interrupted, path};
            return false;
        }
        if (file.write(mboxEntry(mailBytes(n, record, originals))) < 0) {
            outcome.status = {StoreError::WriteFailed, path};
            return false;
        }
        ++outcome.written;
        return true;
    });
    if (outcome.status.ok() && !read.ok()) {
        outcome.status = read;
    }
    if (outcome.status.ok() && !file.commit()) {
        outcome.status = {StoreError::WriteFailed, path};
    }
    if (!outcome.status.ok()) {
        file.cancelWriting();
        outcome.written = outcome.status.error() == StoreError::Interrupted ? outcome.written : 0;
    }
    return outcome;
}

ExportOutcome exportEmlFolder(const Records& records, int total, const Originals& originals,
                              const QString& folder, const Progress& progress)
{
    ExportOutcome outcome;
    if (!QDir().mkpath(folder)) {
        outcome.status = {StoreError::OpenFailed, folder};
        return outcome;
    }
    Status read = records([&](qint64 n, const MailRecord& record) {
        if (progress && !progress(outcome.written, total)) {
            outcome.status = {StoreError::Interrupted, folder};
            return false;
        }
        const Result<QString> written = attachments::writeNew(
            folder, numberedName(outcome.written + 1, record), mailBytes(n, record, originals));
        if (!written.ok()) {
            outcome.status = written.status();
            return false;
        }
        ++outcome.written;
        return true;
    });
    if (outcome.status.ok() && !read.ok()) {
        outcome.status = read;
    }
    (void)fileio::syncFileSystem(folder);
    return outcome;
}

ExportOutcome exportMbox(const QList<MailRecord>& records, const Originals& originals,
                         const QString& path, const Progress& progress)
{
    return exportMbox(recordsOf(records), static_cast<int>(records.size()), originals, path,
                      progress);
}

ExportOutcome exportEmlFolder(const QList<MailRecord>& records, const Originals& originals,
                              const QString& folder, const Progress& progress)
{
    return exportEmlFolder(recordsOf(records), static_cast<int>(records.size()), originals, folder,
                           progress);
}

} // namespace lumora::exchange
