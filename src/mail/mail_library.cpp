#include "mail/mail_library.h"

#include <curl/curl.h>

namespace lumora {
namespace {

// The library on libcurl. Start-up and shut-down are in place; the protocol
// calls are not written yet and answer as a failed connection does, with an
// error text that says so.
class CurlMailLibrary final : public MailLibrary {
public:
    ~CurlMailLibrary() override
    {
        if (initialised_) {
            curl_global_cleanup();
        }
    }

    void NMailInitializeWinSock() override
    {
        if (!initialised_) {
            initialised_ = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        }
    }

    void NMailSetOption(int option, int value) override
    {
        if (option == 1 && value > 0) {
            bufferSize_ = value;
        }
    }

    void NMailEndWinSock() override
    {
        if (initialised_) {
            curl_global_cleanup();
            initialised_ = false;
        }
    }

    int NMailPop3Connect(const QString&) override { return notAvailable(); }
    int NMailPop3Authenticate(int, const QString&, const QString&, int) override
    {
        return notAvailable();
    }
    int NMailPop3GetMailStatus(int, int, MailFields&, int) override { return notAvailable(); }
    qint64 NMailPop3GetMailSize(int, int) override { return notAvailable(); }
    int NMailPop3GetMail(int, int, MailFields&, QString&, int, int) override
    {
        return notAvailable();
    }
    int NMailAttachmentFileFirst(int, MailFields&, QString&, const QString&, const QString&,
                                 QString&, int) override
    {
        return 0;
    }
    int NMailAttachmentFileClose(int) override { return 0; }
    int NMailPop3DeleteMail(int, int) override { return notAvailable(); }
    int NMailPop3Close(int) override { return 0; }
    int NMailSmtpSendMail(const QString&, const QString&, const QString&, const QString&,
                          const QString&, const QString&, const QString&, const QString&,
                          const QStringList&, int) override
    {
        return notAvailable();
    }

    QString NMailGetMessage(int) override { return lastError_.left(bufferSize_ - 1); }

private:
    int notAvailable()
    {
        lastError_ = QStringLiteral("このバージョンではメールの送受信はまだできません。");
        return -1;
    }

    bool initialised_ = false;
    int bufferSize_ = 8192;
    QString lastError_;
};

} // namespace

std::unique_ptr<MailLibrary> createMailLibrary()
{
    return std::make_unique<CurlMailLibrary>();
}

} // namespace lumora
