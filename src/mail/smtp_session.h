#pragma once

#include "mail/net_error.h"
#include "mail/pop3_session.h"
#include "mail/server_address.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <optional>

typedef void CURL;

// SMTP submission on libcurl. The connection stays open for a short while
// after a send, so that sends to the same server one after the other (a
// mail to every address-book entry) use one connection and one log-in.
namespace lumora {

class SmtpSession {
public:
    static constexpr qint64 kKeepOpenMilliseconds = 30'000;

    explicit SmtpSession(ConnectionOptions options);
    ~SmtpSession();
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    // Sends one mail. AUTH with the ID and password when the server offers
    // it and an ID is given.
    bool send(const ServerAddress& server, const QString& id, const QString& password,
              const QByteArray& envelopeFrom, const QList<QByteArray>& recipients,
              const QByteArray& bytes);
    void close();

    const QString& error() const { return error_; }
    // After a failed send: the certificate the server presented when it
    // could not be verified and was not the one the user trusted.
    const std::optional<ServerCertificate>& certificate() const { return certificate_; }
    // Connections opened so far (for tests of the reuse).
    long connectionsOpened() const { return connections_; }

private:
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onRead(char* buffer, size_t size, size_t count, void* self);
    // The TLS set-up of each new connection, which judges the certificate.
    friend struct SmtpTls;

    ConnectionOptions options_;
    CURL* curl_ = nullptr;
    QString key_;          // server and ID the open connection belongs to
    ServerAddress server_; // the server of the open connection
    std::optional<ServerCertificate> certificate_;
    QElapsedTimer idle_;
    QByteArray lastReply_;
    const QByteArray* upload_ = nullptr;
    qsizetype uploaded_ = 0;
    long connections_ = 0;
    qint64 sizeLimit_ = 0; // the SIZE the open connection's server announced
    QString error_;
    char errorBuffer_[256] = {};
};

} // namespace lumora
