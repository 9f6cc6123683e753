#pragma once

#include "mail/mail_library.h"

#include <QStringList>

namespace lumora::test {

// A mail library that only records which entry points were called, in order.
class RecordingMailLibrary final : public MailLibrary {
public:
    QStringList calls;

    void NMailInitializeWinSock() override { calls << QStringLiteral("NMailInitializeWinSock"); }
    void NMailSetOption(int option, int value) override
    {
        calls << QStringLiteral("NMailSetOption(%1,%2)").arg(option).arg(value);
    }
    void NMailEndWinSock() override { calls << QStringLiteral("NMailEndWinSock"); }
    int NMailPop3Connect(const QString&) override { return record("NMailPop3Connect", -1); }
    int NMailPop3Authenticate(int, const QString&, const QString&, int) override
    {
        return record("NMailPop3Authenticate", -1);
    }
    int NMailPop3GetMailStatus(int, int, MailFields&, int) override
    {
        return record("NMailPop3GetMailStatus", -1);
    }
    qint64 NMailPop3GetMailSize(int, int) override { return record("NMailPop3GetMailSize", -1); }
    int NMailPop3GetMail(int, int, MailFields&, QString&, int, int) override
    {
        return record("NMailPop3GetMail", -1);
    }
    int NMailAttachmentFileFirst(int, MailFields&, QString&, const QString&, const QString&,
                                 QString&, int) override
    {
        return record("NMailAttachmentFileFirst", 0);
    }
    int NMailAttachmentFileClose(int) override { return record("NMailAttachmentFileClose", 0); }
    int NMailPop3DeleteMail(int, int) override { return record("NMailPop3DeleteMail", -1); }
    int NMailPop3Close(int) override { return record("NMailPop3Close", 0); }
    void NMailPop3WillGetMails(int, const QList<int>&) override {}
    QString NMailPop3GetMailUid(int, int) override { return {}; }
    int NMailPop3Reset(int) override { return record("NMailPop3Reset", 0); }
    void NMailSetAccount(const QString&, const QString&) override {}
    int NMailSmtpSendMail(const QString&, const QString&, const QString&, const QString&,
                          const QString&, const QString&, const QString&, const QString&,
                          const QStringList&, int) override
    {
        return record("NMailSmtpSendMail", -1);
    }
    QString NMailGetMessage(int) override { return {}; }

private:
    int record(const char* name, int result)
    {
        calls << QString::fromLatin1(name);
        return result;
    }
};

} // namespace lumora::test
