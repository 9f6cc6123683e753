#include "mail/mail_import.h"

#include "mail/attachment_files.h"
#include "mail/mail_intake.h"
#include "mail/receive_cycle.h"

#include <QDir>
#include <QFile>
#include <QMultiHash>
#include <QSet>

namespace lumora {
namespace {

// Moves the files a decoding wrote into the staging folder to the attachment
// folder, each under a name not yet taken there.
void moveStaged(const QString& staging, const QString& folder)
{
    const QDir dir(staging);
    for (const QString& name : dir.entryList(QDir::Files)) {
        (void)attachments::moveNew(folder, name, dir.filePath(name));
    }
}

void clearFolder(const QString& path)
{
    const QDir dir(path);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
        QFile::remove(dir.filePath(name));
    }
}

} // namespace

ImportOutcome importMails(MailLibrary& mail, const AppPaths& paths, int count,
                          const MailReader& read, const ImportProgress& progress,
                          const std::atomic_bool* cancel)
{
    ImportOutcome outcome;
    MailIntake intake(mail, paths);
    if (!intake.status().ok()) {
        outcome.status = intake.status();
        return outcome;
    }
    // What is stored already: a record's first bytes (subject, date,
    // sender) find the few records that may be the same mail, which are
    // then compared whole; the file is not read through for every mail.
    const RecordFile file = mailFile(paths.receivedFile());
    QMultiHash<QByteArray, qint64> heads;
    if (Status status = file.forEachSlice(
            0, Originals::kHeadBytes,
            [&heads](qint64 n, const QByteArray& head) { heads.insert(head, n); });
        !status.ok()) {
        outcome.status = status;
        return outcome;
    }
    QSet<QString> names; // of the mails this import stored
    const auto storedAlready = [&](const MailRecord& record, const QString& name) {
        if (names.contains(name)) {
            return true;
        }
        const QByteArray head = record.bytes().first(Originals::kHeadBytes);
        for (const qint64 n : heads.values(head)) {
            const Result<QByteArray> other = file.read(n);
            if (other.ok() && Originals::nameFor(other.value()) == name) {
                return true;
            }
        }
        return false;
    };
    // Files are decoded into a folder of their own first, so that a mail
    // found to be stored already leaves nothing in the attachment folder.
    const QString folder = paths.attachmentFolder();
    const QString staging = QDir(folder).filePath(QStringLiteral(".importing"));
    if (!QDir().mkpath(staging)) {
        outcome.status = {StoreError::OpenFailed, staging};
        return outcome;
    }
    clearFolder(staging);
    bool complete = true;
    for (int i = 0; i < count; ++i) {
        if (progress) {
            progress(i, count);
        }
        if (cancel && cancel->load()) {
            outcome.cancelled = true;
            break;
        }
        if (intake.appendNumber() > kMaxReceivedRecords) {
            outcome.full = true;
            break;
        }
        const QByteArray raw = read(i);
        if (raw.trimmed().isEmpty()) {
            continue;
        }
        const TakenMail taken = intake.decodeOriginal(raw, staging);
        const QString name = Originals::nameFor(taken.record.bytes());
        // Files were written (or tried) only when the decoder says so.
        const bool files = taken.decoded == 1 || taken.decoded == -5;
        if (storedAlready(taken.record, name)) {
            if (files) {
                clearFolder(staging);
            }
            ++outcome.skipped;
            continue;
        }
        if (files) {
            moveStaged(staging, folder);
        }
        if (!intake.store(taken, raw).ok()) {
            complete = false;
            break;
        }
        names.insert(name);
    }
    QDir(staging).removeRecursively();
    if (!intake.finish(complete)) {
        outcome.status = !intake.failure().ok()
                             ? intake.failure()
                             : Status(StoreError::WriteFailed, paths.receivedFile());
    }
    outcome.imported = intake.written();
    if (progress) {
        progress(outcome.imported + outcome.skipped, count);
    }
    return outcome;
}

} // namespace lumora
