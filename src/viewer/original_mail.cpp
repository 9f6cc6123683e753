#include "viewer/original_mail.h"

#include "mail/mime_decoder.h"
#include "store/text_codec.h"

namespace lumora::viewer {

OriginalMail readOriginal(const QByteArray& raw)
{
    mime::DecodedMail decoded = mime::decodeMail(raw);
    OriginalMail mail;
    mail.from = decoded.from;
    mail.to = decoded.to;
    mail.cc = decoded.cc;
    mail.date = decoded.date;
    mail.subject = decoded.subject;
    mail.body = decoded.partial ? QStringLiteral("（分割されたメールの一部です）") : decoded.body;
    for (const mime::Attachment& file : decoded.attachments) {
        mail.attachments.append(file.name);
    }
    mail.messageId = decoded.messageId;
    mail.references = decoded.references;
    return mail;
}

QString originalText(const OriginalMail& mail)
{
    QString text;
    const QList<std::pair<QString, QString>> fields = {
        {QStringLiteral("From"), mail.from},       {QStringLiteral("To"), mail.to},
        {QStringLiteral("Cc"), mail.cc},           {QStringLiteral("Date"), mail.date},
        {QStringLiteral("Subject"), mail.subject},
    };
    for (const auto& [name, value] : fields) {
        if (!value.isEmpty()) {
            text += name + QStringLiteral(": ") + value + QStringLiteral("\n");
        }
    }
    QString body = mail.body;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text += QStringLiteral("\n") + body;
    if (!mail.attachments.isEmpty()) {
        if (!text.endsWith(u'\n')) {
            text += u'\n';
        }
        text += QStringLiteral("\n添付ファイル（%1 個）:\n").arg(mail.attachments.size());
        for (const QString& name : mail.attachments) {
            text += QStringLiteral("  ") + name + u'\n';
        }
    }
    return text;
}

QString lossNote(const OriginalMail& mail)
{
    const auto lost = [](const QString& value, qsizetype width) {
        const QString trimmed = text::trimSpaces(value);
        return !text::fitsCp932(trimmed) || text::encodeCp932(trimmed).size() > width;
    };
    const bool subject = lost(mail.subject, MailRecord::kSubject.width);
    const bool body = lost(mail.body, MailRecord::kBody.width);
    if (!subject && !body) {
        return {};
    }
    const QString what = subject && body ? QStringLiteral("件名と本文")
                         : subject       ? QStringLiteral("件名")
                                         : QStringLiteral("本文");
    return QStringLiteral("このメールの%1は一部が切れているか、文字が置き換えられています。"
                          "全文は「ファイル」の「元のメールを表示」で見られます。")
        .arg(what);
}

QString threadHeader(const OriginalMail& mail)
{
    const QByteArray id = mail.messageId.trimmed();
    if (id.isEmpty() || !id.startsWith('<') || !id.endsWith('>') || id.contains(' ')) {
        return {};
    }
    // References keeps the thread's last ones; a long thread is cut from the
    // front, as RFC 5322 allows.
    QList<QByteArray> references = mail.references.simplified().split(' ');
    references.removeAll(QByteArray());
    references.append(id);
    while (references.size() > 20) {
        references.removeAt(1);
    }
    return QStringLiteral("In-Reply-To: ") + QString::fromLatin1(id) +
           QStringLiteral("\r\nReferences: ") + QString::fromLatin1(references.join(' ')) +
           QStringLiteral("\r\n");
}

} // namespace lumora::viewer
