// lumora-import APP_FOLDER SOURCE
//
// Imports the mails of SOURCE (an mbox file, or a folder of .eml files, a
// Maildir or an MH folder) into APP_FOLDER's received-mail file with the code
// the viewer's "メールを読み込む…" uses. Prints "imported N mails (M already
// stored) in S s" and exits 0 unless the import failed; what it passed over
// (and why) goes to the error stream. SIGTERM or SIGINT stop it after the
// mail in hand. LUMORA_IMPORT_PAUSE_MS makes it wait that long before each
// mail (the crash test stops it at any point).

#include "mail/mail_import.h"
#include "mail/mail_library.h"
#include "tool_folder.h"
#include "viewer/mail_exchange.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: lumora-import APP_FOLDER SOURCE\n");
        return 2;
    }
    lumora::AppPaths paths;
    lumora::InstanceLock lock;
    if (!openToolFolder(args[1], paths, lock)) {
        return 1;
    }
    lumora::MailLibraryOptions options;
    options.partialFolder = paths.partialFolder();
    const auto mail = lumora::createMailLibrary(options);

    QElapsedTimer timer;
    timer.start();
    lumora::Result<lumora::exchange::MailSource> opened =
        lumora::exchange::MailSource::open(args[2]);
    if (!opened.ok()) {
        std::fprintf(stderr, "cannot read %s: %s\n", qUtf8Printable(args[2]),
                     qUtf8Printable(opened.status().detail()));
        return 1;
    }
    lumora::exchange::MailSource source = std::move(opened).value();
    // SIGTERM and SIGINT stop it after the mail in hand.
    static std::atomic_bool stop{false};
    const auto onSignal = [](int) {
        stop = true;
    };
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    // LUMORA_IMPORT_PAUSE_MS waits that long before each mail, so that a test
    // can stop it at any point of an import.
    const unsigned long pause = qEnvironmentVariableIntValue("LUMORA_IMPORT_PAUSE_MS");
    const lumora::ImportOutcome outcome = lumora::importMails(
        *mail, paths,
        [&source, pause] {
            if (pause > 0) {
                QThread::msleep(pause);
            }
            return source.next(&stop);
        },
        &stop);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    for (const QString& passed : source.passedOver()) {
        std::fprintf(stderr, "passed over %s\n", qUtf8Printable(passed));
    }
    if (source.heldNoMail()) {
        std::fprintf(stderr, "no mail found in %s\n", qUtf8Printable(args[2]));
    }
    std::printf("imported %d mails (%d already stored) in %.3f s\n", outcome.imported,
                outcome.skipped, seconds);
    if (outcome.full) {
        std::fprintf(stderr, "the received-mail file is full\n");
    }
    return outcome.status.ok() ? 0 : 1;
}
