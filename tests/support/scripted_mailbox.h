#pragma once

#include "mail/mail_library.h"

#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QStringList>

#include <atomic>
#include <functional>

namespace lumora::test {

// A mail library with a mailbox the test fills: connecting, logging in,
// fetching and deleting work on that list, and every call is recorded.
// Decoding gives the fields back unchanged, with a result the test sets.
// Calls may come from the receive thread.
class ScriptedMailbox final : public MailLibrary {
public:
    struct Mail {
        QString subject;
        QString from;
        QString date;
        QString body;
        QString uid;
        int decodeResult = 0;
    };

    QList<Mail> mails;
    bool connects = true;
    int loginResult = 0; // used when negative
    QString error = QStringLiteral("エラーです");
    QString lastId;
    QString lastPassword;
    int lastApop = 0;
    // Runs inside connect, on the receive thread (to hold a cycle open).
    std::function<void()> onConnect;
    // Runs before each mail is handed over, on the receive thread.
    std::function<void(int)> onGetMail;

    QStringList calls() const
    {
        QMutexLocker lock(&mutex_);
        return calls_;
    }
    QList<int> deleted() const
    {
        QMutexLocker lock(&mutex_);
        return deleted_;
    }

    void NMailInitializeWinSock() override {}
    void NMailSetOption(int, int) override {}
    void NMailEndWinSock() override {}
    int NMailPop3Connect(const QString&) override
    {
        record(QStringLiteral("connect"));
        if (onConnect) {
            onConnect();
        }
        return connects ? 7 : -1;
    }
    int NMailPop3Authenticate(int, const QString& id, const QString& password, int apop) override
    {
        record(QStringLiteral("login"));
        lastId = id;
        lastPassword = password;
        lastApop = apop;
        return loginResult < 0 ? loginResult : static_cast<int>(mails.size());
    }
    int NMailPop3GetMailStatus(int, int number, MailFields& fields, int) override
    {
        const Mail& m = mails.at(number - 1);
        fields = {m.subject, m.date, m.from, QStringLiteral("Subject: x"), {}};
        return 0;
    }
    qint64 NMailPop3GetMailSize(int, int number) override
    {
        return mails.at(number - 1).body.size();
    }
    int NMailPop3GetMail(int, int number, MailFields& fields, QString& body, int, int) override
    {
        record(QStringLiteral("get %1").arg(number));
        if (onGetMail) {
            onGetMail(number);
        }
        if (aborted_) {
            QMutexLocker lock(&mutex_);
            error = QStringLiteral("サーバーとの接続が切れました。");
            return -1;
        }
        NMailPop3GetMailStatus(0, number, fields, 0);
        body = mails.at(number - 1).body;
        current_ = number;
        return 0;
    }
    int NMailAttachmentFileFirst(int, MailFields&, QString&, const QString&, const QString&,
                                 QString&, int) override
    {
        return mails.at(current_ - 1).decodeResult;
    }
    int NMailAttachmentFileClose(int) override { return 0; }
    int NMailPop3DeleteMail(int, int number) override
    {
        record(QStringLiteral("delete %1").arg(number));
        QMutexLocker lock(&mutex_);
        deleted_.append(number);
        return 0;
    }
    int NMailPop3Reset(int) override { return 0; }
    void NMailPop3WillGetMails(int, const QList<int>&) override {}
    QString NMailPop3GetMailUid(int, int number) override { return mails.at(number - 1).uid; }
    // A retrieval held in onGetMail waits on this; breaking the connections
    // releases it, and the retrieval then fails.
    QSemaphore abortRequested;
    void NMailPop3AbortAll() override
    {
        record(QStringLiteral("abort"));
        aborted_ = true;
        abortRequested.release();
    }
    int NMailPop3Close(int) override
    {
        record(QStringLiteral("close"));
        return 0;
    }
    int NMailSmtpSendMail(const QString&, const QString&, const QString&, const QString&,
                          const QString&, const QString&, const QString&, const QString&,
                          const QStringList&, int) override
    {
        return -1;
    }
    void NMailSetAccount(const QString&, const QString&) override {}
    QString NMailGetMessage(int) override { return error; }

private:
    std::atomic_bool aborted_{false};
    void record(const QString& call)
    {
        QMutexLocker lock(&mutex_);
        calls_.append(call);
    }
    mutable QMutex mutex_;
    QStringList calls_;
    QList<int> deleted_;
    int current_ = 0;
};

} // namespace lumora::test
