// lumora-receive APP_FOLDER SERVER USER PASSWORD [--apop] [--keep]
//
// Runs one receive cycle without windows, with the code the main window
// uses, into APP_FOLDER's data and attachment folders. Prints
// "received N mails in S s" and exits 0 unless the cycle failed. For a test
// server it trusts the CA file named by LUMORA_TEST_CAFILE when that is set.
// LUMORA_RECEIVE_PAUSE_MS makes it wait that long before each mail, so a
// test can stop it at any point of a cycle; LUMORA_RECEIVE_PAUSE_BEFORE_RECORD_MS
// makes it print "original kept" and wait that long between keeping each
// mail's original and storing its record.

#include "mail/mail_library.h"
#include "mail/receive_cycle.h"
#include "settings/account_settings.h"
#include "tool_folder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <malloc.h>

namespace {

class ConsoleListener final : public lumora::ReceiveListener {
public:
    explicit ConsoleListener(int pauseMs) : pauseMs_(pauseMs) {}
    void checking() override {}
    void credentialsRead(const QString&, const QString&) override {}
    void credentialsMissing() override { std::fprintf(stderr, "no ID or password\n"); }
    void failed(const QString& text) override
    {
        std::fprintf(stderr, "エラー: %s\n", qUtf8Printable(text));
    }
    void notice(const QString& text) override
    {
        std::fprintf(stderr, "%s\n", qUtf8Printable(text));
    }
    void progress(int, int, qint64, qint64) override
    {
        if (pauseMs_ > 0) {
            QThread::msleep(static_cast<unsigned long>(pauseMs_));
        }
    }
    void mailShown(const QString&, const QString&, const QString&, const QString&) override {}

private:
    int pauseMs_;
};

} // namespace

int main(int argc, char** argv)
{
    // Mails of a few hundred kilobytes come one after another: keep freed
    // buffers for the next one instead of mapping fresh pages each time.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 5) {
        std::fprintf(stderr,
                     "usage: lumora-receive APP_FOLDER SERVER USER PASSWORD [--apop] [--keep]\n");
        return 2;
    }
    lumora::AppPaths paths;
    lumora::InstanceLock lock;
    if (!openToolFolder(args[1], paths, lock)) {
        return 1;
    }
    if (!lumora::account::writeCredentials(paths.accountFile(), {args[3], args[4]}, true).ok()) {
        std::fprintf(stderr, "cannot write the account file\n");
        return 1;
    }
    lumora::MailLibraryOptions options;
    options.caFile = qEnvironmentVariable("LUMORA_TEST_CAFILE");
    options.partialFolder = paths.partialFolder();
    // What the user trusted in the windows holds here too; nothing new is
    // ever trusted without a person to ask.
    options.trustFile = paths.trustFile();
    options.tlsMemoryFile = paths.tlsMemoryFile();
    const auto mail = lumora::createMailLibrary(options);
    mail->NMailInitializeWinSock();
    mail->NMailSetOption(1, 8192);

    lumora::ReceiveSettings settings;
    settings.pop3Server = args[2];
    settings.apopFlag = args.contains(QStringLiteral("--apop")) ? 1 : 0;
    settings.keepOnServer = args.contains(QStringLiteral("--keep"));
    if (const int pause = qEnvironmentVariableIntValue("LUMORA_RECEIVE_PAUSE_BEFORE_RECORD_MS");
        pause > 0) {
        settings.beforeRecord = [pause] {
            std::printf("original kept\n");
            std::fflush(stdout);
            QThread::msleep(static_cast<unsigned long>(pause));
        };
    }
    ConsoleListener listener(qEnvironmentVariableIntValue("LUMORA_RECEIVE_PAUSE_MS"));
    QElapsedTimer timer;
    timer.start();
    const lumora::ReceiveOutcome outcome =
        lumora::runReceiveCycle(*mail, paths, settings, listener);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    mail->NMailEndWinSock();
    std::printf("received %d mails in %.3f s\n", std::max(outcome.count, 0), seconds);
    return outcome.failed ? 1 : 0;
}
