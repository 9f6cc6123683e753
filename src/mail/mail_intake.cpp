#include "mail/mail_intake.h"

#include "mail/receive_cycle.h"
#include "store/file_io.h"
#include "store/text_codec.h"

namespace lumora {

MailIntake::MailIntake(MailLibrary& mail, const AppPaths& paths)
    : mail_(mail), paths_(paths), attachmentFolder_(paths.attachmentFolder()),
      file_(mailFile(paths.receivedFile())), appender_(file_), originals_(paths.originalsFolder())
{
    // A record cut short by a crash is no mail; its mail is still on the
    // server (or in the file it is imported from) and comes again.
    (void)file_.dropPartialTail();
    begun_ = originals_.begin(file_);
}

Status MailIntake::status() const
{
    return appender_.status().ok() ? begun_ : appender_.status();
}

TakenMail MailIntake::decode(MailFields& fields, QString& body)
{
    return decodeInto(fields, body, attachmentFolder_);
}

TakenMail MailIntake::decodeInto(MailFields& fields, QString& body, const QString& attachmentFolder)
{
    TakenMail mail;
    const bool hasAttachment =
        QStringView(body).left(body.indexOf(QChar(0))).contains(QLatin1StringView("attachment"));
    QString text;
    mail.decoded =
        mail_.NMailAttachmentFileFirst(0, fields, body, attachmentFolder + u'/',
                                       attachmentFolder + u'/' + names::kTempText, text, 0);
    mail_.NMailAttachmentFileClose(0);
    mail.subject = text::CutAtNul(fields.subject);
    mail.from = text::CutAtNul(fields.from);
    mail.date = text::CutAtNul(fields.date);
    mail.shown = text::CutAtNul(body);
    if (hasAttachment) {
        mail.shown += QStringLiteral("\r\n") + kAttachmentNotice;
    }
    mail.record = MailRecord::received(mail.subject, mail.from, mail.date, mail.shown);
    return mail;
}

Result<qint64> MailIntake::store(const TakenMail& mail, const QByteArray& original,
                                 const std::function<void()>& between)
{
    wrote_ = true;
    // The original first: a crash between the two leaves an original that
    // no record names, which the next run removes, never a record whose
    // original is missing.
    if (!original.isEmpty()) {
        (void)originals_.write(mail.record.bytes(), original);
    }
    if (between) {
        between();
    }
    return appender_.append(mail.record.bytes());
}

bool MailIntake::finish(bool complete)
{
    if (wrote_ && (!fileio::syncFileSystem(paths_.dataFolder()) ||
                   !fileio::syncFileSystem(attachmentFolder_))) {
        return false;
    }
    if (complete && begun_.ok()) {
        originals_.end();
    }
    return true;
}

} // namespace lumora
