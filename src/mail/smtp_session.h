#pragma once

#include "mail/mail_connection.h"
#include "mail/server_address.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// SMTP submission: STARTTLS (required on a port that says so) or TLS from
// the start, AUTH CRAM-MD5, PLAIN or LOGIN, SIZE, 8BITMIME and SMTPUTF8
// when a mail needs them (a mail with an address in UTF-8 goes to no server
// without SMTPUTF8). When the server offers PIPELINING (RFC 2920), a
// mail's MAIL FROM, RCPT TO and DATA go out together, and in a run of mails
// the next mail's commands go with the previous one's end of data: one wait
// for the server per mail. The connection stays open for a short while after
// a send, so that sends to the same server one after the other use one
// connection and one log-in.
namespace lumora {

struct SmtpMail {
    QByteArray envelopeFrom;
    QList<QByteArray> recipients;
    QByteArray bytes; // CR LF line ends
};

class SmtpSession {
public:
    static constexpr qint64 kKeepOpenMilliseconds = 30'000;

    // Mail index (from 0) of a run, asked for when its turn is near: the
    // mail, or nothing with the reason in *error; nothing with no reason
    // ends the run there.
    using MailSource = std::function<std::optional<SmtpMail>(int index, QString* error)>;
    // After each mail of a run; error() and certificate() tell a failure.
    // False sends no more.
    using MailDone = std::function<bool(int index, bool sent)>;

    explicit SmtpSession(ConnectionOptions options);
    ~SmtpSession();
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    // Sends one mail. AUTH with the ID and password when the server offers
    // it and an ID is given.
    bool send(const ServerAddress& server, const QString& id, const QString& password,
              const QByteArray& envelopeFrom, const QList<QByteArray>& recipients,
              const QByteArray& bytes);
    // Sends count mails in order, over one connection while it holds.
    void sendAll(const ServerAddress& server, const QString& id, const QString& password, int count,
                 const MailSource& source, const MailDone& done);
    // Says QUIT and closes the connection.
    void close();

    const QString& error() const { return error_; }
    // After a failed send: the certificate the server presented when it
    // could not be verified and was not the one the user trusted.
    const std::optional<ServerCertificate>& certificate() const { return certificate_; }
    // Connections opened so far (for tests of the reuse).
    long connectionsOpened() const { return connections_; }

private:
    class Connection;
    struct Envelope;

    // The open connection for the server and ID, opened when there is none.
    bool ensureOpen(const ServerAddress& server, const QString& id, const QString& password);
    // Checks the mail against what the server takes; sets error_ when it
    // cannot go.
    bool acceptable(const SmtpMail& mail);
    // Reads the replies to a mail's envelope; true when the server waits
    // for its text.
    bool envelopeAccepted(const Envelope& envelope);
    // Sends the mail whose envelope is on its way, with the next mail's
    // envelope where the server pipelines.
    bool transact(Envelope& current, std::optional<Envelope>& ahead, int count,
                  const MailSource& source, bool& stopped);
    void dropConnection();

    ConnectionOptions options_;
    std::unique_ptr<Connection> connection_;
    QString key_; // server and ID the open connection belongs to
    QElapsedTimer idle_;
    long connections_ = 0;
    QString error_;
    std::optional<ServerCertificate> certificate_;
};

} // namespace lumora
