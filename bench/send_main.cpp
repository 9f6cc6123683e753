// lumora-send APP_FOLDER SERVER USER PASSWORD FROM SUBJECT BODY_FILE [ATTACHMENT...]
//
// Sends one mail to every entry of APP_FOLDER's address book without
// windows, with the code the compose window's bulk send runs: the same
// recipients in record order, one mail and one recipient each, over the
// library's one SMTP connection. The body file is UTF-8. Prints "sent N of M
// mails in S s" and exits 0 when every mail was sent. A SUBJECT of "@FILE"
// is read from that file (UTF-8).

#include "addressbook/address_book.h"
#include "compose/send_job.h"
#include "mail/mail_library.h"
#include "store/paths.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 8) {
        std::fprintf(stderr, "usage: lumora-send APP_FOLDER SERVER USER PASSWORD FROM SUBJECT "
                             "BODY_FILE [ATTACHMENT...]\n");
        return 2;
    }
    const lumora::AppPaths paths = lumora::AppPaths::at(args[1]);
    QFile bodyFile(args[7]);
    if (!bodyFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qUtf8Printable(args[7]));
        return 1;
    }
    const lumora::AddressBook book(paths.addressFile(), paths.addressTemp());
    const lumora::Result<QList<lumora::AddressEntry>> entries = book.entries();
    if (!entries.ok()) {
        std::fprintf(stderr, "cannot read the address book: %s\n",
                     qUtf8Printable(entries.status().detail()));
        return 1;
    }
    QStringList stored;
    for (const lumora::AddressEntry& entry : entries.value()) {
        stored.append(entry.address);
    }

    lumora::MailLibraryOptions options;
    options.caFile = qEnvironmentVariable("LUMORA_TEST_CAFILE");
    // What the user trusted in the windows holds here too; nothing new is
    // ever trusted without a person to ask.
    options.trustFile = paths.trustFile();
    const auto mail = lumora::createMailLibrary(options);
    mail->NMailInitializeWinSock();
    mail->NMailSetOption(1, 8192);
    mail->NMailSetAccount(args[3], args[4]);

    lumora::compose::SendRequest request;
    request.server = args[2];
    request.from = args[5];
    request.subject = args[6];
    if (request.subject.startsWith(u'@')) { // a subject too long for the command line
        QFile subjectFile(request.subject.mid(1));
        if (!subjectFile.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qUtf8Printable(request.subject.mid(1)));
            return 1;
        }
        request.subject = QString::fromUtf8(subjectFile.readAll());
    }
    request.body = QString::fromUtf8(bodyFile.readAll());
    request.attachments = args.mid(8);
    request.recipients = lumora::compose::bulkRecipients(stored);

    QElapsedTimer timer;
    timer.start();
    const lumora::compose::SendReport report = lumora::compose::sendMails(*mail, request);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    mail->NMailEndWinSock();
    for (const QString& text : report.distinctMessages()) {
        std::fprintf(stderr, "送信エラー: %s\n", qUtf8Printable(text));
    }
    std::printf("sent %d of %d mails in %.3f s\n", report.sent, report.total, seconds);
    return report.allSent() ? 0 : 1;
}
