#pragma once

#include "mail/mail_connection.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <deque>
#include <optional>

// One POP3 connection: TCP, TLS from the start (POP3S) or by STLS, APOP or
// USER/PASS, and the transaction commands. When the server announces
// PIPELINING, retrievals the caller has announced are requested ahead and
// deletions are sent without waiting for their replies, so a mailbox costs
// few round trips. Deletions are committed by QUIT, which close() sends; a
// connection that ends any other way deletes nothing.
namespace lumora {

class Pop3Session : public MailConnection {
public:
    Pop3Session(ServerAddress server, ConnectionOptions options);
    ~Pop3Session() override;
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

private:
    struct Pending {
        enum Kind { Retrieve, Delete } kind;
        int number;
    };

    // A multi-line reply of at most maxBytes; a larger one breaks the session.
    bool readMultiline(QByteArray& out, qint64 maxBytes);
    bool command(const QByteArray& line, QByteArray* reply);
    bool readCapabilities();
    bool readPending(); // reads the reply of the oldest request in flight
    // Sends the next planned requests. Unless now, only once half the
    // window has come in.
    void requestAhead(bool now = false);
    void dropConnection();

    bool loggedIn_ = false;
    bool pipelining_ = false;
    bool offersStls_ = false;
    QByteArray greeting_;
    QList<qint64> sizes_;
    QList<QString> uids_;
    QList<int> plan_;
    QHash<int, qsizetype> planIndex_; // mail number -> its place in plan_
    qsizetype planPos_ = 0;
    std::deque<Pending> pending_;
    QHash<int, std::optional<QByteArray>> fetched_; // nullopt: the server refused
    qint64 bytesInFlight_ = 0;
};

} // namespace lumora
