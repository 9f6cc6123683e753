#include "compose/send_job.h"

#include "mail/mail_library.h"

#include <QMetaObject>
#include <QSet>

namespace lumora::compose {

QStringList SendReport::distinctMessages() const
{
    QStringList texts;
    for (const SendFailure& failure : failures) {
        if (!texts.contains(failure.message)) {
            texts.append(failure.message);
        }
    }
    return texts;
}

QString SendReport::summary() const
{
    QString text = QStringLiteral("%1 件中 %2 件を送信しました。").arg(total).arg(sent);
    if (stopped) {
        text += QStringLiteral("残りの %1 件は送信を中止しました。")
                    .arg(total - sent - static_cast<int>(failures.size()));
    }
    if (!failures.isEmpty()) {
        QStringList addresses;
        for (const SendFailure& failure : failures) {
            addresses.append(failure.recipient.isEmpty() ? QStringLiteral("（宛先なし）")
                                                         : failure.recipient);
        }
        text += QStringLiteral("\r\n\r\n送信できなかった宛先（%1 件）:\r\n").arg(failures.size()) +
                addresses.join(QStringLiteral("\r\n"));
    }
    return text;
}

std::optional<ServerCertificate> SendReport::refusedCertificate() const
{
    for (const SendFailure& failure : failures) {
        if (failure.certificate) {
            return failure.certificate;
        }
    }
    return std::nullopt;
}

SendReport sendMails(MailLibrary& mail, const SendRequest& request, const std::atomic_bool* stop,
                     const SendProgress& progress)
{
    SendReport report;
    report.total = static_cast<int>(request.recipients.size());
    const auto starting = [&](int i) {
        if (stop && *stop) {
            report.stopped = true;
            return false;
        }
        if (progress) {
            progress(i + 1, report.total, request.recipients[i]);
        }
        return true;
    };
    const auto sent = [&](int i, int result) {
        if (result >= 0) {
            ++report.sent;
            return true;
        }
        report.failures.append(
            {request.recipients[i], mail.NMailGetMessage(0), mail.NMailGetCertificate()});
        if (report.failures.last().certificate) {
            // The server is refused before any mail: every other mail
            // would meet the same certificate, so none is tried.
            const SendFailure refused = report.failures.last();
            for (int rest = i + 1; rest < report.total; ++rest) {
                report.failures.append(
                    {request.recipients[rest], refused.message, refused.certificate});
            }
            return false;
        }
        return true;
    };
    mail.NMailSmtpSendMails(request.server, request.recipients, request.from, request.subject,
                            request.body, request.header, request.attachments, starting, sent);
    return report;
}

QStringList bulkRecipients(const QStringList& storedAddresses)
{
    QStringList recipients;
    QSet<QString> seen;
    for (const QString& address : storedAddresses) {
        qsizetype end = address.size();
        while (end > 0 && address[end - 1] == QLatin1Char(' ')) {
            --end;
        }
        const QString recipient = address.left(end);
        // One mail per mailbox: an address stored twice (or once with a name
        // and once without) is mailed once.
        const qsizetype open = recipient.lastIndexOf(u'<');
        const qsizetype close = recipient.lastIndexOf(u'>');
        const QString mailbox =
            (open >= 0 && close > open ? recipient.mid(open + 1, close - open - 1) : recipient)
                .trimmed()
                .toLower();
        if (!mailbox.isEmpty() && seen.contains(mailbox)) {
            continue;
        }
        seen.insert(mailbox);
        recipients.append(recipient);
    }
    return recipients;
}

SendRunner::SendRunner(MailLibrary& mail, QObject* parent) : QObject(parent), mail_(mail)
{
    qRegisterMetaType<SendReport>();
}

SendRunner::~SendRunner()
{
    stop_ = true;
    wait();
}

bool SendRunner::start(const SendRequest& request)
{
    if (running_) {
        return false;
    }
    running_ = true;
    stop_ = false;
    wait();
    thread_.reset(QThread::create([this, request] {
        const SendReport report =
            sendMails(mail_, request, &stop_, [this](int index, int count, const QString& to) {
                QMetaObject::invokeMethod(
                    this, [this, index, count, to] { Q_EMIT progress(index, count, to); },
                    Qt::QueuedConnection);
            });
        QMetaObject::invokeMethod(
            this,
            [this, report] {
                running_ = false;
                Q_EMIT finished(report);
            },
            Qt::QueuedConnection);
    }));
    thread_->start();
    return true;
}

void SendRunner::wait()
{
    if (thread_) {
        thread_->wait();
    }
}

} // namespace lumora::compose
