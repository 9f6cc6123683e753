#pragma once

#include "mail/net_error.h"
#include "mail/server_address.h"
#include "mail/server_certificate.h"
#include "mail/tls_memory.h"

#include <QByteArray>
#include <QString>

#include <mutex>
#include <optional>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

// What the POP3 and the SMTP sessions share: one TCP connection to a mail
// server, TLS on it from the start or after an upgrade command, buffered
// line reads with a length limit, writes of whole commands, and the last
// failure as a Japanese sentence.
namespace lumora {

struct ConnectionOptions {
    QString caFile; // trust this CA file instead of the system's; for tests
    // The certificates the user trusted although they cannot be verified.
    CertificateTrust trust;
    // The servers that have spoken TLS before.
    TlsMemory tlsMemory;
    int connectTimeoutSeconds = 30;
    // A read or write that moves nothing this long fails: long enough for a
    // slow server's reply, short enough that a hung one does not hold up
    // every later check.
    int stallSeconds = 60;
};

class MailConnection {
public:
    // A server's status line is short; a few kilobytes is plenty.
    static constexpr qsizetype kMaxLineBytes = 8 * 1024;

    MailConnection(ServerAddress server, ConnectionOptions options);
    virtual ~MailConnection();
    MailConnection(const MailConnection&) = delete;
    MailConnection& operator=(const MailConnection&) = delete;

    // From any thread: breaks the connection at once, so that a read or
    // write in hand fails now instead of at the stall limit.
    void abort();

    // The last failure, in Japanese, with the server's reply when there is one.
    const QString& error() const { return error_; }
    // What kind of failure that was.
    NetError errorKind() const { return errorKind_; }
    // After a Certificate failure: the certificate the server presented,
    // when there was one to show the user.
    const std::optional<ServerCertificate>& certificate() const { return certificate_; }

protected:
    bool fail(NetError error, const QByteArray& reply = {}, const QString& detail = {});
    bool connectTcp();
    // The TLS handshake on the open connection, and the judgement of the
    // certificate the server presented.
    bool startTls();
    // After an upgrade command's positive reply: true when nothing else came
    // with it. A server never sends more before the handshake; an attacker on
    // the path does, to have the bytes read as replies inside the session.
    bool nothingBeforeTls();
    bool send(const QByteArray& bytes);
    // Sends what waits in outgoing_, then reads what the server sent.
    bool fill();
    // A reply line of at most kMaxLineBytes without its line end; a longer
    // one breaks the session.
    bool readLine(QByteArray& line);
    bool tooLong(const char* what);
    // Closes the socket and TLS; the buffers are emptied.
    void closeSocket();

    ServerAddress server_;
    ConnectionOptions options_;
    int fd_ = -1;
    std::mutex fdMutex_; // fd_'s opening and closing against abort()
    bool aborted_ = false;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    bool broken_ = false;
    QByteArray outgoing_; // commands not sent yet: they go out before the next wait
    QByteArray buffer_;
    qsizetype bufferPos_ = 0;
    QString error_;
    NetError errorKind_ = NetError::ServerError;
    std::optional<ServerCertificate> certificate_;
};

} // namespace lumora
