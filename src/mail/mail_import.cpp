#include "mail/mail_import.h"

#include "mail/attachment_files.h"
#include "mail/mail_intake.h"
#include "mail/receive_cycle.h"

#include <QDir>
#include <QFile>
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

// The same bytes but for line ends and the blank lines at the end.
bool sameText(QByteArray a, QByteArray b)
{
    for (QByteArray* text : {&a, &b}) {
        text->replace("\r\n", "\n");
        while (text->endsWith('\n') || text->endsWith(' ') || text->endsWith('\t')) {
            text->chop(1);
        }
    }
    return a == b;
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
    int i = 0;
    ImportOutcome outcome = importMails(
        mail, paths,
        [&]() -> std::optional<QByteArray> {
            if (progress) {
                progress(i, count);
            }
            if (i >= count || (cancel && cancel->load())) {
                return std::nullopt;
            }
            return read(i++);
        },
        cancel);
    if (progress) {
        progress(outcome.imported + outcome.skipped, count);
    }
    return outcome;
}

ImportOutcome importMails(MailLibrary& mail, const AppPaths& paths, const MailFeed& next,
                          const std::atomic_bool* cancel)
{
    ImportOutcome outcome;
    MailIntake intake(mail, paths, Writer::Import);
    // What is stored already: the same original, or for mail stored
    // without one, the same record. Mails that only come out as the same
    // record (a scanner's or a mailing's mails, alike but for their
    // attachments or IDs) are different mails and all come in.
    Result<MailStore::StoredKeys> stored = intake.store().storedKeys();
    if (!stored.ok()) {
        outcome.status = stored.status();
        return outcome;
    }
    MailStore::StoredKeys keys = std::move(stored).value();
    const Originals& originals = intake.store().originals();
    const auto storedAlready = [&](const Originals::Entry& taken, const QByteArray& raw) {
        if (keys.contents.contains(taken.contentKey)) {
            return true;
        }
        // The same record: the same mail when it was stored without an
        // original, or when its original differs only in line ends (a trip
        // through an mbox file).
        for (const QByteArray& content : keys.byRecord.values(taken.recordKey)) {
            if (content.isEmpty()) {
                return true;
            }
            const std::optional<QByteArray> other = originals.readContent(content);
            if (other && sameText(*other, raw)) {
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
    for (;;) {
        if (cancel && cancel->load()) {
            outcome.cancelled = true;
            break;
        }
        if (intake.appendNumber() > kMaxReceivedRecords) {
            outcome.full = true;
            break;
        }
        const std::optional<QByteArray> read = next();
        if (!read) {
            outcome.cancelled = cancel && cancel->load();
            break;
        }
        const QByteArray& raw = *read;
        if (raw.trimmed().isEmpty()) {
            continue;
        }
        const TakenMail taken = intake.decodeOriginal(raw, staging);
        // Files were written (or tried) only when the decoder says so.
        const bool files = taken.decoded == 1 || taken.decoded == -5;
        const Originals::Entry mailKeys{Originals::recordKey(taken.record.bytes()),
                                        Originals::contentKey(raw)};
        if (storedAlready(mailKeys, raw)) {
            if (files) {
                clearFolder(staging);
            }
            ++outcome.skipped;
            continue;
        }
        if (files) {
            moveStaged(staging, folder);
        }
        if (!intake.store(taken, raw, {}, mailKeys).ok()) {
            complete = false;
            break;
        }
        keys.contents.insert(mailKeys.contentKey);
        keys.byRecord.insert(mailKeys.recordKey, mailKeys.contentKey);
    }
    QDir(staging).removeRecursively();
    if (!intake.finish(complete)) {
        outcome.status = !intake.failure().ok()
                             ? intake.failure()
                             : Status(StoreError::WriteFailed, paths.receivedFile());
        outcome.full = outcome.status.error() == StoreError::Full;
    }
    outcome.imported = intake.written();
    return outcome;
}

} // namespace lumora
