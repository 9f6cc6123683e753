#pragma once

#include "mail/server_address.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

typedef void CURL;

// One POP3 connection on libcurl: one easy handle keeps one connection and
// one log-in for every request. Deletions are committed by QUIT, which
// close() sends; a connection that ends any other way deletes nothing.
namespace lumora {

struct ConnectionOptions {
    QString caFile; // trust this CA file instead of the system's; for tests
    long connectTimeoutSeconds = 30;
    long stallSeconds = 120; // a transfer that moves nothing this long fails
};

class Pop3Session {
public:
    Pop3Session(ServerAddress server, ConnectionOptions options);
    ~Pop3Session();
    Pop3Session(const Pop3Session&) = delete;
    Pop3Session& operator=(const Pop3Session&) = delete;

    // Opens a TCP connection to the server and closes it again, so that a
    // wrong name or a closed port is found before the log-in.
    bool probe();
    // Logs in and lists the mailbox: the number of mails, or -1.
    int login(const QString& id, const QString& password, bool apop);
    qint64 size(int number) const;
    // The mail's unique ID; empty when the server has none.
    QString uid(int number) const;
    std::optional<QByteArray> retrieve(int number);
    bool remove(int number);
    // Unmarks every deletion of this connection.
    bool reset();
    // Sends QUIT and closes the connection.
    void close();

    // The last failure, in Japanese, with the server's reply when there is one.
    const QString& error() const { return error_; }

private:
    bool perform(const QString& path, const char* command, bool noBody, QByteArray* body);
    void setError(int code);
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onBody(char* data, size_t size, size_t count, void* self);

    ServerAddress server_;
    ConnectionOptions options_;
    CURL* curl_ = nullptr;
    bool apop_ = false;
    bool loggedIn_ = false;
    bool greetingSeen_ = false;
    bool greetingRefused_ = false;
    QByteArray lastServerLine_;
    QByteArray* sink_ = nullptr;
    QList<qint64> sizes_;
    QList<QString> uids_;
    QString error_;
    char errorBuffer_[256] = {};
};

// The Japanese text for a libcurl failure talking to the server.
QString connectionErrorText(int curlCode, const QString& host, const QByteArray& serverReply,
                            const char* detail);

} // namespace lumora
