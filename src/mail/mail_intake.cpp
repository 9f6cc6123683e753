#include "mail/mail_intake.h"

#include "mail/receive_cycle.h"
#include "store/file_io.h"
#include "store/text_codec.h"

namespace lumora {

namespace {

// Mails handed to the writer and not yet written, at most, and their bytes.
// On two cores the writer shares a processor with the server and the
// helpers, and is often kept waiting for a few milliseconds; a short queue
// then stops the decoding too (with eight, a receive of a thousand mails
// took about a tenth longer). The byte bound keeps large mails from piling
// up in memory; one mail always goes, however large.
constexpr std::size_t kMaxQueued = 64;
constexpr qint64 kMaxQueuedBytes = 16 * 1024 * 1024;

qint64 jobBytes(const QByteArray& record, const QByteArray& original)
{
    return record.size() + original.size();
}

} // namespace

MailIntake::MailIntake(MailLibrary& mail, const AppPaths& paths, Writer who)
    : mail_(mail), paths_(paths), attachmentFolder_(paths.attachmentFolder()), store_(paths),
      appender_(store_, who), index_(paths.searchIndexFile()),
      flushAhead_({paths.dataFolder(), attachmentFolder_})
{
    writer_ = std::thread([this] { writeJobs(); });
}

MailIntake::~MailIntake()
{
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    writer_.join();
}

void MailIntake::writeJobs()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return closing_ || !jobs_.empty(); });
        if (jobs_.empty()) {
            return;
        }
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        queuedBytes_ -= jobBytes(job.record, job.original);
        busy_ = true;
        const bool failed = !failure_.ok();
        lock.unlock();
        changed_.notify_all();
        Status status;
        if (!failed) {
            if (!job.keys) {
                job.keys = Originals::Entry{
                    Originals::recordKey(job.record),
                    job.original.isEmpty() ? QByteArray() : Originals::contentKey(job.original)};
            }
            status = appender_.append(job.record, job.original, job.steps, job.keys).status();
            // The attachments were written as the mail was decoded: about
            // as many bytes again as its original.
            flushAhead_.wrote(job.record.size() + 2 * job.original.size());
            if (status.ok()) {
                // The index names a mail by its original, or by its record
                // when it has none.
                index_.add(job.keys->contentKey.isEmpty() ? job.keys->recordKey
                                                          : job.keys->contentKey,
                           std::move(job.indexed));
            }
        }
        lock.lock();
        busy_ = false;
        if (!failed && status.ok()) {
            ++written_;
        } else if (!failed) {
            failure_ = status;
        }
        changed_.notify_all();
    }
}

void MailIntake::waitForWrites()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

int MailIntake::written() const
{
    std::lock_guard lock(mutex_);
    return written_;
}

Status MailIntake::failure() const
{
    std::lock_guard lock(mutex_);
    return failure_;
}

qint64 MailIntake::appendNumber() const
{
    std::lock_guard lock(mutex_);
    return store_.file().appendNumber() + static_cast<qint64>(jobs_.size()) + (busy_ ? 1 : 0);
}

TakenMail MailIntake::decode(MailFields& fields, QString& body)
{
    return decodeInto(fields, body, attachmentFolder_);
}

namespace {

TakenMail taken(int decoded, const MailFields& fields, const QString& body, bool hasAttachment)
{
    TakenMail mail;
    mail.decoded = decoded;
    mail.subject = text::CutAtNul(fields.subject);
    mail.from = text::CutAtNul(fields.from);
    mail.date = text::CutAtNul(fields.date);
    mail.body = text::CutAtNul(body);
    mail.shown = mail.body;
    mail.files = fields.files;
    if (hasAttachment) {
        mail.shown += QStringLiteral("\r\n") + kAttachmentNotice;
    }
    mail.record = MailRecord::received(mail.subject, mail.from, mail.date, mail.shown);
    return mail;
}

} // namespace

TakenMail MailIntake::decodeInto(MailFields& fields, QString& body, const QString& attachmentFolder)
{
    const bool hasAttachment =
        QStringView(body).left(body.indexOf(QChar(0))).contains(QLatin1StringView("attachment"));
    QString text;
    const int decoded =
        mail_.NMailAttachmentFileFirst(0, fields, body, attachmentFolder + u'/',
                                       attachmentFolder + u'/' + names::kTempText, text, 0);
    mail_.NMailAttachmentFileClose(0);
    return taken(decoded, fields, body, hasAttachment);
}

TakenMail MailIntake::decodeOriginal(const QByteArray& raw, const QString& attachmentFolder)
{
    // The word is looked for in the body as received, as for a fetched mail.
    qsizetype bodyStart = raw.size();
    for (const char* separator : {"\r\n\r\n", "\n\n"}) {
        if (const qsizetype at = raw.indexOf(separator); at >= 0 && at < bodyStart) {
            bodyStart = at + qstrlen(separator);
        }
    }
    QByteArrayView rest = QByteArrayView(raw).sliced(std::min(bodyStart, raw.size()));
    if (const qsizetype nul = rest.indexOf('\0'); nul >= 0) {
        rest = rest.first(nul);
    }
    MailFields fields;
    QString body;
    const int decoded = mail_.NMailAttachmentFileFromOriginal(raw, fields, body, attachmentFolder);
    return taken(decoded, fields, body, rest.contains("attachment"));
}

Status MailIntake::store(const TakenMail& mail, QByteArray original, StoreSteps steps,
                         std::optional<Originals::Entry> keys)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] {
        return jobs_.empty() || (jobs_.size() < kMaxQueued && queuedBytes_ < kMaxQueuedBytes) ||
               !failure_.ok();
    });
    if (!failure_.ok()) {
        return failure_;
    }
    wrote_ = true;
    QByteArray record = mail.record.bytes();
    queuedBytes_ += jobBytes(record, original);
    jobs_.push_back({std::move(record), std::move(original), std::move(steps), std::move(keys),
                     search::IndexedMail{mail.subject, mail.from, mail.body, mail.files}});
    lock.unlock();
    changed_.notify_all();
    return Status::success();
}

bool MailIntake::finish(bool complete)
{
    waitForWrites();
    index_.close(); // every stored mail is handed over
    {
        std::lock_guard lock(mutex_);
        if (!failure_.ok()) {
            appender_.finish(false);
            return false;
        }
    }
    if (wrote_ && !fileio::syncFileSystems({paths_.dataFolder(), attachmentFolder_})) {
        appender_.finish(false);
        return false;
    }
    appender_.finish(complete);
    return true;
}

} // namespace lumora
