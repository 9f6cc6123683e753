// A server whose certificate cannot be verified, met through the windows:
// the receive and the send ask once, remember the answer for the server and
// port, and refuse loudly when the certificate changes; the interval check
// never asks.

#include "app/main_form.h"
#include "compose/write_form.h"
#include "mail/mail_library.h"
#include "support/app_fixture.h"
#include "support/mail_servers.h"
#include "support/received_file.h"
#include "ui/picture_button.h"

#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QThread>

using namespace lumora;
using lumora::test::AppFixture;
using lumora::test::MailServers;

namespace {

QByteArray japaneseMail(int n)
{
    return "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>\r\n"
           "Subject: =?ISO-2022-JP?B?GyRCMnE1RDBGRmIbKEI=?= " +
           QByteArray::number(n) +
           "\r\n"
           "Date: Tue, 8 Dec 2026 09:00:00 +0900\r\n"
           "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
           "\x1B$B$*@$OC$K$J$C$F$*$j$^$9!#\x1B(B\r\n";
}

} // namespace

class CertificateTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aServerTheUserTrustsIsAskedAboutOnce();
};

void CertificateTest::aServerTheUserTrustsIsAskedAboutOnce()
{
    MailServers servers;
    QVERIFY(servers.started());
    AppFixture app;
    MailLibraryOptions options;
    options.caFile = servers.otherCaFile(); // the servers' own CA is unknown here
    options.trustFile = app.dataFile(QStringLiteral("trusted-servers.txt"));
    const auto library = createMailLibrary(options);
    app.library = library.get();
    app.writeServerFile("SMTP=" + servers.smtp().toUtf8() + "\r\nPOP3=" + servers.pop3s().toUtf8() +
                        "\r\nMAIL=taro@example.jp\r\nAPOP=0\r\n");
    app.writeData(QStringLiteral("iniIdPass.ini"), "[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\n");
    app.writeData(QStringLiteral("ini.ini"), "[EXEINI]\r\nNUMBER4=1\r\n");
    QVERIFY(app.start());
    MainForm* main = app.mainForm.get();
    const auto settle = [&] {
        for (int i = 0; i < 10000 && main->receiving(); ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        QCoreApplication::processEvents();
    };
    const auto receive = [&] {
        QTest::mouseClick(main->Picture4, Qt::LeftButton);
        settle();
    };
    const auto stored = [&] {
        return test::recordsIn(app.readData(QStringLiteral("krddata2.data"))).size();
    };
    const QString trustFile = options.trustFile;
    servers.deliver(QStringLiteral("taro"), japaneseMail(1));

    // Asked, and declined: nothing stored, nothing trusted, no second box.
    app.ui.certificateAnswers = {false};
    receive();
    QCOMPARE(app.ui.certificatesShown.size(), 1);
    const ServerCertificate first = app.ui.certificatesShown[0];
    QVERIFY(!first.changed());
    QVERIFY(first.issuer.contains(QStringLiteral("Lumora Test CA")));
    QCOMPARE(stored(), 0);
    QVERIFY(!QFile::exists(trustFile));
    QVERIFY2(app.ui.messages.isEmpty(), qPrintable(app.ui.messages.value(0).text));

    // Trusted: the receive is made again and brings the mail in.
    app.ui.certificateAnswers = {true};
    receive();
    settle();
    QCOMPARE(app.ui.certificatesShown.size(), 2);
    QCOMPARE(stored(), 1);
    QCOMPARE(main->Text6->text(), QStringLiteral("1"));
    QVERIFY(QFile::exists(trustFile));

    // The next receive asks nothing.
    servers.deliver(QStringLiteral("taro"), japaneseMail(2));
    receive();
    QCOMPARE(app.ui.certificatesShown.size(), 2);
    QCOMPARE(stored(), 2);

    // Another certificate where the trusted one was: refused, both shown.
    QFile file(trustFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray lines = file.readAll();
    file.close();
    const QByteArray earlier = "00" + first.fingerprint.toLatin1().mid(2);
    lines.replace(first.fingerprint.toLatin1(), earlier);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(lines);
    file.close();
    servers.deliver(QStringLiteral("taro"), japaneseMail(3));
    app.ui.certificateAnswers = {false};
    receive();
    QCOMPARE(app.ui.certificatesShown.size(), 3);
    QVERIFY(app.ui.certificatesShown[2].changed());
    QCOMPARE(app.ui.certificatesShown[2].trustedFingerprint, QString::fromLatin1(earlier));
    QCOMPARE(app.ui.certificatesShown[2].fingerprint, first.fingerprint);
    QCOMPARE(stored(), 2);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), lines); // declining changed nothing
    file.close();

    // The interval check never asks: the usual error box.
    const auto between = [&] {
        settle();
    };
    app.clock.advance(61'500, between);
    settle();
    QCOMPARE(app.ui.certificatesShown.size(), 3);
    QCOMPARE(app.ui.messages.size(), 1);
    QCOMPARE(app.ui.messages[0].title, QStringLiteral("エラー"));
    QVERIFY(app.ui.messages[0].text.contains(QStringLiteral("証明書")));
    QCOMPARE(stored(), 2);

    // The send: asked about the SMTP server, trusted, sent.
    QTest::mouseClick(main->Picture3, Qt::LeftButton);
    QPointer<WriteForm> form = app.windows->existing<WriteForm>();
    QVERIFY(form);
    form->ToText->setText(QStringLiteral("hanako@example.jp"));
    form->SubjectText->setText(QStringLiteral("証明書のテスト"));
    form->rtfEd->setPlainText(QStringLiteral("本文"));
    app.ui.certificateAnswers = {true};
    const qsizetype before = servers.spooled().size();
    form->Command1->click();
    for (int i = 0; i < 20000 && form && form->busy(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    QCoreApplication::processEvents();
    QCOMPARE(app.ui.certificatesShown.size(), 4);
    QCOMPARE(app.ui.certificatesShown[3].port, servers.smtp().section(u':', -1).toInt());
    QCOMPARE(servers.spooled().size(), before + 1);
    QCOMPARE(app.ui.messages.size(), 1); // no "送信エラー"
    QVERIFY(app.ui.unscripted.isEmpty());
}

QTEST_MAIN(CertificateTest)
#include "certificate_test.moc"
