// lumora-decode MAIL_FILE ATTACHMENT_FOLDER
//
// Decodes one mail file as the receive cycle does (the library's decoder,
// attachments written into ATTACHMENT_FOLDER) and prints the time it took,
// the lengths of the subject and body kept and the number of files written.
// bench/hostile.py runs it on each hostile mail in a process of its own, so
// that the peak memory is the mail's.

#include "mail/mail_library.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: lumora-decode MAIL_FILE ATTACHMENT_FOLDER\n");
        return 2;
    }
    QFile file(args[1]);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qUtf8Printable(args[1]));
        return 1;
    }
    const QByteArray raw = file.readAll();
    // The texts the retrieval gives: the header block (with the end of its
    // last line) and the body, one character per byte.
    const qsizetype blank = raw.indexOf("\r\n\r\n");
    const qsizetype end = blank < 0 ? raw.size() : blank + 2;
    const qsizetype bodyStart = blank < 0 ? raw.size() : blank + 4;
    lumora::MailFields fields;
    fields.header = QString::fromLatin1(raw.first(end));
    QString body = QString::fromLatin1(raw.sliced(bodyStart));
    QDir().mkpath(args[2]);

    const auto mail = lumora::createMailLibrary({});
    mail->NMailInitializeWinSock();
    mail->NMailSetOption(1, 8192);
    QString tempText;
    QElapsedTimer timer;
    timer.start();
    const int result = mail->NMailAttachmentFileFirst(
        0, fields, body, args[2], args[2] + QStringLiteral("/0.txt"), tempText, 0);
    mail->NMailAttachmentFileClose(0);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    const qsizetype files = QDir(args[2]).entryList(QDir::Files).size();
    std::printf("decoded in %.3f s: result %d, subject %lld, body %lld characters, %lld files\n",
                seconds, result, static_cast<long long>(fields.subject.size()),
                static_cast<long long>(body.size()), static_cast<long long>(files));
    std::printf("body ends: %s\n", qUtf8Printable(body.right(200).simplified()));
    mail->NMailEndWinSock();
    return 0;
}
