#include "mail/server_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace lumora {

QString ServerAddress::url(Protocol protocol) const
{
    const bool implicit = tls == Tls::Implicit;
    const QString scheme = protocol == Protocol::Pop3
                               ? (implicit ? QStringLiteral("pop3s") : QStringLiteral("pop3"))
                               : (implicit ? QStringLiteral("smtps") : QStringLiteral("smtp"));
    const QString shownHost = host.contains(QLatin1Char(':')) ? u'[' + host + u']' : host;
    return QStringLiteral("%1://%2:%3/").arg(scheme, shownHost).arg(port);
}

bool isIpAddress(const QString& host)
{
    const QByteArray text = host.toUtf8();
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.constData(), buffer) == 1 ||
           inet_pton(AF_INET6, text.constData(), buffer) == 1;
}

std::optional<ServerAddress> parseServerAddress(const QString& text, Protocol protocol)
{
    QString rest = text.trimmed();
    ServerAddress address;
    const bool pop3 = protocol == Protocol::Pop3;
    const int plainPort = pop3 ? 110 : 25;
    const int implicitPort = pop3 ? 995 : 465;
    const qsizetype schemeEnd = rest.indexOf(QStringLiteral("://"));
    if (schemeEnd >= 0) {
        const QString scheme = rest.left(schemeEnd).toLower();
        rest = rest.mid(schemeEnd + 3);
        if (scheme == (pop3 ? QStringLiteral("pop3") : QStringLiteral("smtp"))) {
            // An explicit plain URL on the submission port means STARTTLS.
            address.tls = Tls::WhenOffered;
        } else if (scheme == (pop3 ? QStringLiteral("pop3s") : QStringLiteral("smtps"))) {
            address.tls = Tls::Implicit;
        } else if (pop3 && scheme == QStringLiteral("pop3-plain")) {
            address.tls = Tls::PlainChosen;
        } else {
            return std::nullopt;
        }
    }
    if (rest.endsWith(QLatin1Char('/'))) {
        rest.chop(1);
    }
    QString host = rest;
    int port = 0;
    if (rest.startsWith(QLatin1Char('['))) { // [IPv6]:port
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0) {
            return std::nullopt;
        }
        host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':'))) {
                return std::nullopt;
            }
            bool ok = false;
            port = after.mid(1).toInt(&ok);
            if (!ok) {
                return std::nullopt;
            }
        }
    } else if (const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
               colon >= 0 && rest.indexOf(QLatin1Char(':')) == colon) {
        host = rest.left(colon);
        bool ok = false;
        port = rest.mid(colon + 1).toInt(&ok);
        if (!ok) {
            return std::nullopt;
        }
    }
    if (host.isEmpty() || port < 0 || port > 65535) {
        return std::nullopt;
    }
    for (const QChar c : host) {
        if (c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char('@') ||
            c == QLatin1Char('?') || c == QLatin1Char('#') || c.unicode() < 0x20) {
            return std::nullopt;
        }
    }
    address.host = host;
    if (port == 0) {
        port = address.tls == Tls::Implicit ? implicitPort : plainPort;
    }
    address.port = port;
    if (!pop3 && address.tls == Tls::WhenOffered && schemeEnd >= 0 && port == 587) {
        address.tls = Tls::Required;
    }
    return address;
}

} // namespace lumora
