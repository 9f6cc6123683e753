#include "compose/held_mail.h"

#include "mail/mime_composer.h"
#include "store/records.h"
#include "store/text_codec.h"

namespace lumora::compose {

namespace {

QString shown(const MailRecord& record, FieldSpan field)
{
    return text::trimSpaces(text::CutAtNul(record.text(field)));
}

struct FieldCheck {
    const char* name;
    const QString* text;
    FieldSpan field;
};

} // namespace

HeldMailFile::HeldMailFile(QString path, QString tempPath)
    : owner_(RecordOwner::of(path, MailRecord::kLayout)), file_(owner_->file()),
      tempPath_(std::move(tempPath))
{
}

Result<QStringList> HeldMailFile::subjects() const
{
    if (Status status = file_.ensureExists(); !status.ok()) {
        return status;
    }
    QStringList rows;
    const Status read =
        file_.forEachSlice(MailRecord::kSubject.offset, MailRecord::kSubject.width,
                           [&](qint64, const QByteArray& subject) {
                               rows.append(text::CutAtNul(text::decodeCp932(subject)));
                           });
    if (!read.ok()) {
        return read;
    }
    return rows;
}

Result<HeldMail> HeldMailFile::read(qint64 n) const
{
    Result<QByteArray> bytes = file_.read(n);
    if (!bytes.ok()) {
        return bytes.status();
    }
    return mailOf(bytes.value());
}

HeldMail HeldMailFile::mailOf(const QByteArray& bytes)
{
    const MailRecord record = MailRecord::fromBytes(bytes);
    return HeldMail{shown(record, MailRecord::kFrom), shown(record, MailRecord::kSubject),
                    shown(record, MailRecord::kBody)};
}

Result<ChosenRecord> HeldMailFile::chosen(qint64 n) const
{
    Result<QByteArray> bytes = file_.read(n);
    if (!bytes.ok()) {
        return bytes.status();
    }
    return ChosenRecord{n, std::move(bytes).value()};
}

Result<qint64> HeldMailFile::hold(const HeldMail& mail, const QDateTime& when) const
{
    const RecordOwner::Turn turn = owner_->take(Writer::Hold);
    if (file_.appendNumber() > kMaxMails) {
        return Status(StoreError::BadArgument, QStringLiteral("the held-mail file is full"));
    }
    MailRecord record;
    record.setText(MailRecord::kSubject, text::trimSpaces(mail.subject));
    record.setText(MailRecord::kDate, QString::fromLatin1(mime::rfc2822Date(when)));
    record.setText(MailRecord::kFrom, text::trimSpaces(mail.to));
    record.setText(MailRecord::kBody, text::trimSpaces(mail.body));
    return file_.append(record.bytes());
}

Status HeldMailFile::remove(const ChosenRecord& chosen, const CompactHook& hook) const
{
    const RecordOwner::Turn turn = owner_->take(Writer::Hold);
    return deleteRecords(turn, tempPath_, {chosen}, {}, hook);
}

QStringList heldMailLosses(const HeldMail& mail)
{
    const QString to = text::trimSpaces(mail.to);
    const QString subject = text::trimSpaces(mail.subject);
    const QString body = text::trimSpaces(mail.body);
    const FieldCheck checks[] = {{"宛先", &to, MailRecord::kFrom},
                                 {"件名", &subject, MailRecord::kSubject},
                                 {"本文", &body, MailRecord::kBody}};
    QStringList losses;
    for (const FieldCheck& check : checks) {
        const QString name = QString::fromUtf8(check.name);
        if (!text::fitsCp932(*check.text)) {
            losses
                << QStringLiteral("%1に保存できない文字があります（「?」になります）。").arg(name);
        }
        const qsizetype bytes = text::encodeCp932(*check.text).size();
        if (bytes > check.field.width) {
            losses << QStringLiteral(
                          "%1が長すぎます（%2 バイト中、先頭の %3 バイトだけが残ります）。")
                          .arg(name)
                          .arg(bytes)
                          .arg(check.field.width);
        }
    }
    return losses;
}

} // namespace lumora::compose
