#pragma once

#include "mail/net_error.h"
#include "mail/server_address.h"
#include "mail/server_certificate.h"
#include "mail/tls_memory.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <deque>
#include <mutex>
#include <optional>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

// One POP3 connection: TCP, TLS from the start (POP3S) or by STLS, APOP or
// USER/PASS, and the transaction commands. When the server announces
// PIPELINING, retrievals the caller has announced are requested ahead and
// deletions are sent without waiting for their replies, so a mailbox costs
// few round trips. Deletions are committed by QUIT, which close() sends; a
// connection that ends any other way deletes nothing.
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

class Pop3Session {
public:
    Pop3Session(ServerAddress server, ConnectionOptions options);
    ~Pop3Session();
    Pop3Session(const Pop3Session&) = delete;
    Pop3Session& operator=(const Pop3Session&) = delete;

    // Opens the connection (and TLS for POP3S), so that a wrong name or a
    // closed port is found before the log-in.
    bool connect();
    // Reads the greeting, upgrades by STLS where due, logs in and lists the
    // mailbox: the number of mails, or -1.
    int login(const QString& id, const QString& password, bool apop);
    qint64 size(int number) const;
    // The mail's unique ID; empty when the server has none.
    QString uid(int number) const;
    // The mails the caller will retrieve, in order; they may be requested
    // ahead of time.
    void plan(const QList<int>& numbers);
    std::optional<QByteArray> retrieve(int number);
    bool remove(int number);
    // Unmarks every deletion of this connection.
    bool reset();
    // Sends QUIT, which commits the deletions, and closes the connection.
    void close();
    // From any thread: breaks the connection at once, so that a read or
    // write in hand fails now instead of at the stall limit. Nothing is
    // deleted (no QUIT goes out).
    void abort();

    // The last failure, in Japanese, with the server's reply when there is one.
    const QString& error() const { return error_; }
    // What kind of failure that was.
    NetError errorKind() const { return errorKind_; }
    // After a Certificate failure: the certificate the server presented,
    // when there was one to show the user.
    const std::optional<ServerCertificate>& certificate() const { return certificate_; }

private:
    struct Pending {
        enum Kind { Retrieve, Delete } kind;
        int number;
    };

    bool fail(NetError error, const QByteArray& reply = {}, const QString& detail = {});
    bool connectTcp();
    bool startTls();
    bool send(const QByteArray& bytes);
    bool fill();
    // A reply line of at most kMaxLineBytes; a longer one breaks the session.
    bool readLine(QByteArray& line);
    // A multi-line reply of at most maxBytes; a larger one breaks the session.
    bool readMultiline(QByteArray& out, qint64 maxBytes);
    bool tooLong(const char* what);
    bool command(const QByteArray& line, QByteArray* reply);
    bool readCapabilities();
    bool readPending(); // reads the reply of the oldest request in flight
    void requestAhead();
    void dropConnection();

    ServerAddress server_;
    ConnectionOptions options_;
    int fd_ = -1;
    std::mutex fdMutex_; // fd_'s opening and closing against abort()
    bool aborted_ = false;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    bool broken_ = false;
    bool loggedIn_ = false;
    bool pipelining_ = false;
    bool offersStls_ = false;
    QByteArray greeting_;
    QByteArray outgoing_; // commands not sent yet: they go out before the next wait
    QByteArray buffer_;
    qsizetype bufferPos_ = 0;
    QList<qint64> sizes_;
    QList<QString> uids_;
    QList<int> plan_;
    QHash<int, qsizetype> planIndex_; // mail number -> its place in plan_
    qsizetype planPos_ = 0;
    std::deque<Pending> pending_;
    QHash<int, std::optional<QByteArray>> fetched_; // nullopt: the server refused
    qint64 bytesInFlight_ = 0;
    QString error_;
    NetError errorKind_ = NetError::ServerError;
    std::optional<ServerCertificate> certificate_;
};

} // namespace lumora
