#pragma once

#include <QString>

#include <optional>

// A server as the user typed it in the server dialog: "host", "host:port",
// or a URL "pop3://", "pop3s://", "smtp://", "smtps://" with an optional port;
// "pop3-plain://" for a POP3 server the user knows has stopped offering TLS.
namespace lumora {

enum class Protocol { Pop3, Smtp };

enum class Tls {
    WhenOffered, // plain port: STLS / STARTTLS used when the server offers it;
                 // a POP3 server that offered it once must go on doing so
    Required,    // plain port, and the upgrade is required
    Implicit,    // TLS from the first byte (pop3s, smtps)
    PlainChosen, // "pop3-plain://": STLS when offered, plain text allowed
};

struct ServerAddress {
    QString host;
    int port = 0;
    Tls tls = Tls::WhenOffered;

    // The URL of the server's root ("pop3://host:110/"), which also tells a
    // connection to another server apart.
    QString url(Protocol protocol) const;
};

// True when host is an IPv4 or IPv6 address rather than a name.
bool isIpAddress(const QString& host);

// The server, or nothing when the text is no server name (empty, spaces
// inside, a bad port, another scheme).
std::optional<ServerAddress> parseServerAddress(const QString& text, Protocol protocol);

} // namespace lumora
