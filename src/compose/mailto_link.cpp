#include "compose/mailto_link.h"

#include <QByteArray>

namespace lumora::compose {
namespace {

const QString kScheme = QStringLiteral("mailto:");

// Percent-decoding as UTF-8; a "+" stays a plus (mailto: is not a form).
QString decoded(const QString& part)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(part.toUtf8()));
}

QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

QStringList addresses(const QString& field)
{
    QStringList out;
    for (const QString& piece : decoded(field).split(u',')) {
        const QString address = oneLine(piece).trimmed();
        if (!address.isEmpty()) {
            out.append(address);
        }
    }
    return out;
}

} // namespace

bool isMailtoLink(const QString& text)
{
    return text.startsWith(kScheme, Qt::CaseInsensitive);
}

std::optional<MailtoLink> parseMailto(const QString& text)
{
    if (!isMailtoLink(text)) {
        return std::nullopt;
    }
    const QString rest = text.mid(kScheme.size());
    const qsizetype question = rest.indexOf(u'?');
    MailtoLink link;
    link.to = addresses(rest.left(question < 0 ? rest.size() : question));
    if (question < 0) {
        return link;
    }
    for (const QString& field : rest.mid(question + 1).split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype equals = field.indexOf(u'=');
        const QString name = decoded(field.left(equals < 0 ? field.size() : equals)).toLower();
        const QString value = equals < 0 ? QString() : field.mid(equals + 1);
        if (name == u"to") {
            link.to += addresses(value);
        } else if (name == u"cc") {
            link.cc += addresses(value);
        } else if (name == u"bcc") {
            link.bcc += addresses(value);
        } else if (name == u"subject") {
            link.subject = oneLine(decoded(value));
        } else if (name == u"body") {
            QString body = decoded(value);
            body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            body.replace(u'\r', u'\n');
            link.body = body;
        } else if (!link.ignored.contains(name)) {
            link.ignored.append(name);
        }
    }
    return link;
}

} // namespace lumora::compose
