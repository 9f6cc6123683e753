#pragma once

#include "mail/server_certificate.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

// Sending one text to one or more recipients, one mail each, through the
// mail library: what the compose window's send and the mail to every
// address-book entry run, and what the headless sender runs too.
namespace lumora {

class MailLibrary;

namespace compose {

struct SendRequest {
    QString server; // SmtpServer
    QString from;   // MailAddress
    QString subject;
    QString body; // plain text
    QStringList attachments;
    QStringList recipients; // one mail each, in this order
    // Header lines added to every mail (a reply's In-Reply-To and References).
    QString header;
};

struct SendFailure {
    QString recipient;
    QString message; // the library's text
    // The server's certificate, when it was refused for it.
    std::optional<ServerCertificate> certificate;
};

struct SendReport {
    int total = 0;
    int sent = 0;
    bool stopped = false; // the user stopped the rest
    QList<SendFailure> failures;

    bool allSent() const { return sent == total; }
    // Each different error text once, in the order they first came.
    QStringList distinctMessages() const;
    // "3 件中 2 件を送信しました。" with the addresses that failed.
    QString summary() const;
    // The first certificate a send was refused for.
    std::optional<ServerCertificate> refusedCertificate() const;
};

// Called before each mail: its index (from 1), the count and the recipient.
using SendProgress = std::function<void(int index, int count, const QString& recipient)>;

// Sends the mails one after the other on the calling thread. A failure is
// recorded and the next mail is tried; stop ends the run before the next mail.
SendReport sendMails(MailLibrary& mail, const SendRequest& request,
                     const std::atomic_bool* stop = nullptr, const SendProgress& progress = {});

// The recipients of a mail to every address-book entry: each stored address,
// in record order, with trailing spaces removed; an address that stands
// twice (its mailbox compared without regard to case) is mailed once.
QStringList bulkRecipients(const QStringList& storedAddresses);

// Runs sendMails off the user-interface thread, one run at a time. Its
// signals arrive on the thread that owns the runner, finished() last.
class SendRunner : public QObject {
    Q_OBJECT
public:
    explicit SendRunner(MailLibrary& mail, QObject* parent = nullptr);
    ~SendRunner() override;

    bool running() const { return running_; }
    // Starts a run; false (and nothing started) while one runs.
    bool start(const SendRequest& request);
    // Asks the run to end after the mail in hand.
    void stop() { stop_ = true; }
    void wait();

Q_SIGNALS:
    void progress(int index, int count, const QString& recipient);
    void finished(const lumora::compose::SendReport& report);

private:
    MailLibrary& mail_;
    std::unique_ptr<QThread> thread_;
    std::atomic_bool stop_{false};
    bool running_ = false;
};

} // namespace compose
} // namespace lumora

Q_DECLARE_METATYPE(lumora::compose::SendReport)
