#pragma once

#include "mail/mail_library.h"

#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QStringList>

#include <deque>

namespace lumora::test {

// A mail library whose sends are recorded with every argument and answered
// from a script: each result in turn (0 when the script is empty), the error
// text for negative ones. With hold set, each send waits until the test
// releases it, so the window can be looked at while it sends.
class SendingMailLibrary final : public MailLibrary {
public:
    struct Send {
        QString server, to, cc, bcc, from, subject, body, header;
        QStringList attachments;
        int flag;
    };

    void NMailInitializeWinSock() override {}
    void NMailSetOption(int, int) override {}
    void NMailEndWinSock() override {}
    int NMailPop3Connect(const QString&) override { return -1; }
    int NMailPop3Authenticate(int, const QString&, const QString&, int) override { return -1; }
    int NMailPop3GetMailStatus(int, int, MailFields&, int) override { return -1; }
    qint64 NMailPop3GetMailSize(int, int) override { return -1; }
    int NMailPop3GetMail(int, int, MailFields&, QString&, int, int) override { return -1; }
    int NMailAttachmentFileFirst(int, MailFields&, QString&, const QString&, const QString&,
                                 QString&, int) override
    {
        return 0;
    }
    int NMailAttachmentFileClose(int) override { return 0; }
    int NMailPop3DeleteMail(int, int) override { return -1; }
    int NMailPop3Close(int) override { return 0; }
    void NMailPop3WillGetMails(int, const QList<int>&) override {}
    QString NMailPop3GetMailUid(int, int) override { return {}; }
    int NMailPop3Reset(int) override { return 0; }
    void NMailSetAccount(const QString&, const QString&) override {}
    int NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc,
                          const QString& bcc, const QString& from, const QString& subject,
                          const QString& body, const QString& header,
                          const QStringList& attachments, int flag) override
    {
        if (hold) {
            started.release();
            proceed.acquire();
        }
        QMutexLocker lock(&mutex);
        sends.append({server, to, cc, bcc, from, subject, body, header, attachments, flag});
        int result = 0;
        if (!results.empty()) {
            result = results.front();
            results.pop_front();
        }
        if (result < 0) {
            error = QStringLiteral("送信できませんでした: %1").arg(to);
            if (!errorText.isEmpty()) {
                error = errorText;
            }
        }
        return result;
    }
    QString NMailGetMessage(int) override
    {
        QMutexLocker lock(&mutex);
        return error;
    }
    // Every failure is the server's certificate refused, when one is set.
    std::optional<ServerCertificate> NMailGetCertificate() override
    {
        QMutexLocker lock(&mutex);
        return error.isEmpty() ? std::nullopt : refusedCertificate;
    }

    QList<Send> snapshot()
    {
        QMutexLocker lock(&mutex);
        return sends;
    }

    QMutex mutex;
    QList<Send> sends;
    std::deque<int> results;
    // The error text for every failure; empty: one naming the recipient.
    QString errorText;
    QString error;
    std::optional<ServerCertificate> refusedCertificate;
    bool hold = false;
    QSemaphore started;
    QSemaphore proceed;
};

} // namespace lumora::test
