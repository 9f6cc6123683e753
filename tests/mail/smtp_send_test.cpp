// Sending against two real servers: the harness's spooling SMTP server,
// which does not pipeline, and a private Postfix, which does (PIPELINING,
// SIZE, STARTTLS, AUTH through Dovecot). Postfix relays what it accepts to
// the spool, so its mails are awaited there.

#include "compose/send_job.h"
#include "mail/mail_library.h"
#include "mail/mime_decoder.h"
#include "support/mail_servers.h"
#include "support/script_server.h"
#include "support/temp_folder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace lumora;
using lumora::test::MailServers;
using lumora::test::TempFolder;

namespace {

MailServers* servers = nullptr;

class SmtpSendTest : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite()
    {
        if (::getuid() == 0) {
            servers = new MailServers(true);
        }
    }
    static void TearDownTestSuite()
    {
        delete servers;
        servers = nullptr;
    }
    void SetUp() override
    {
        if (::getuid() != 0) {
            GTEST_SKIP() << "a private Postfix needs root";
        }
        ASSERT_TRUE(servers && servers->started()) << "the test mail servers did not start";
    }

    bool postfix() const { return QByteArray(GetParam()) == "postfix"; }
    QString server() const { return postfix() ? servers->postfix() : servers->smtp(); }

    std::unique_ptr<MailLibrary> library(const QString& password = QStringLiteral("secret"))
    {
        MailLibraryOptions options;
        options.caFile = servers->caFile();
        auto mail = createMailLibrary(options);
        mail->NMailInitializeWinSock();
        mail->NMailSetAccount(QStringLiteral("taro"), password);
        return mail;
    }

    // The spool once it holds count mails (Postfix relays a moment later).
    static QList<QByteArray> spoolOf(qsizetype count)
    {
        QDeadlineTimer deadline(20'000);
        QList<QByteArray> spool = servers->spooled();
        while (spool.size() < count && !deadline.hasExpired()) {
            QThread::msleep(50);
            spool = servers->spooled();
        }
        return spool;
    }
};

TEST_P(SmtpSendTest, JapaneseMailGoesOverTlsWithLogInAndWrongPasswordsAndLargeMailsDoNot)
{
    TempFolder files;
    const QByteArray pdf = QByteArray("%PDF-1.4\n") + QByteArray(50000, '\x02') + "\n%%EOF";
    files.write(QStringLiteral("見積書.pdf"), pdf);
    const qsizetype before = servers->spooled().size();
    auto mail = library();
    const QString body = QStringLiteral("山田様\r\n.\r\nお世話になっております。");
    ASSERT_EQ(mail->NMailSmtpSendMail(server(), QStringLiteral("花子 <hanako@example.jp>"), {}, {},
                                      QStringLiteral("太郎 <taro@example.jp>"),
                                      QStringLiteral("お見積りの件"), body, {},
                                      {files.file(QStringLiteral("見積書.pdf"))}, 0),
              0)
        << qPrintable(mail->NMailGetMessage(0));
    const QList<QByteArray> spool = spoolOf(before + 1);
    ASSERT_EQ(spool.size(), before + 1);
    const mime::DecodedMail decoded = mime::decodeMail(spool.last());
    EXPECT_EQ(decoded.subject, QStringLiteral("お見積りの件"));
    EXPECT_EQ(decoded.body, body + QStringLiteral("\r\n"));
    ASSERT_EQ(decoded.attachments.size(), 1);
    EXPECT_EQ(decoded.attachments[0].data, pdf);

    auto wrong = library(QStringLiteral("wrong"));
    EXPECT_LT(wrong->NMailSmtpSendMail(server(), QStringLiteral("hanako@example.jp"), {}, {},
                                       QStringLiteral("taro@example.jp"), QStringLiteral("s"),
                                       QStringLiteral("b"), {}, {}, 0),
              0);
    EXPECT_TRUE(wrong->NMailGetMessage(0).contains(QStringLiteral("ログインできません")))
        << qPrintable(wrong->NMailGetMessage(0));
    EXPECT_TRUE(wrong->NMailGetMessage(0).contains(QStringLiteral("サーバーの応答: 535")))
        << qPrintable(wrong->NMailGetMessage(0));

    // Larger than the server announced: refused before the upload, with the
    // limit in the message (Postfix takes 4 MB, the spool's small port 256 KB).
    const int limit = postfix() ? 4 * 1024 * 1024 : 256 * 1024;
    files.write(QStringLiteral("big.bin"), QByteArray(limit, 'x'));
    const QString bounded = postfix()
                                ? server()
                                : QStringLiteral("127.0.0.1:") +
                                      servers->value(QStringLiteral("LUMORA_SMTP_SMALL_PORT"));
    EXPECT_LT(mail->NMailSmtpSendMail(bounded, QStringLiteral("hanako@example.jp"), {}, {},
                                      QStringLiteral("taro@example.jp"), QStringLiteral("大"),
                                      QStringLiteral("b"), {},
                                      {files.file(QStringLiteral("big.bin"))}, 0),
              0);
    EXPECT_TRUE(mail->NMailGetMessage(0).contains(QStringLiteral("（%1 バイト）").arg(limit)))
        << qPrintable(mail->NMailGetMessage(0));
    // And the connection serves the next mail.
    ASSERT_EQ(mail->NMailSmtpSendMail(server(), QStringLiteral("hanako@example.jp"), {}, {},
                                      QStringLiteral("taro@example.jp"), QStringLiteral("後"),
                                      QStringLiteral("b"), {}, {}, 0),
              0)
        << qPrintable(mail->NMailGetMessage(0));
    EXPECT_EQ(spoolOf(before + 2).size(), before + 2);
}

// A run to several recipients, one of them refused by the server and one
// that cannot be made into a mail: the others arrive, each failure is reported (the
// server's with its words), and a stop asked for during the run ends it
// before the next mail. With Postfix the commands are pipelined; the other
// case is a Postfix listener that does not offer PIPELINING, since the
// spooling server refuses no recipient.
TEST_P(SmtpSendTest, ARunGoesOnPastARefusedRecipientAndStopsWhenAsked)
{
    const qsizetype before = servers->spooled().size();
    auto mail = library();
    compose::SendRequest request;
    request.server = postfix() ? server()
                               : QStringLiteral("127.0.0.1:") +
                                     servers->value(QStringLiteral("LUMORA_POSTFIX_SINGLE_PORT"));
    request.from = QStringLiteral("taro@example.jp");
    request.subject = QStringLiteral("一斉送信");
    request.body = QStringLiteral("本文");
    for (const char* to : {"a@example.jp", "refused@example.jp", "b@example.jp", "x\x01@example.jp",
                           "c@example.jp"}) {
        request.recipients.append(QString::fromLatin1(to));
    }
    const compose::SendReport report = compose::sendMails(*mail, request);
    EXPECT_EQ(report.sent, 3);
    ASSERT_EQ(report.failures.size(), 2);
    EXPECT_EQ(report.failures[0].recipient, request.recipients[1]);
    EXPECT_TRUE(report.failures[0].message.contains(QStringLiteral("サーバーの応答: 554")))
        << qPrintable(report.failures[0].message);
    EXPECT_EQ(report.failures[1].recipient, request.recipients[3]);
    EXPECT_TRUE(report.failures[1].message.contains(QStringLiteral("が正しくありません")))
        << qPrintable(report.failures[1].message);
    QList<QByteArray> spool = spoolOf(before + 3);
    ASSERT_EQ(spool.size(), before + 3);
    QList<QByteArray> recipients;
    for (qsizetype i = before; i < before + 3; ++i) {
        recipients.append(servers->envelope(static_cast<int>(i)));
    }
    EXPECT_TRUE(recipients.join().contains("c@example.jp"));

    std::atomic_bool stop = false;
    request.recipients = {QStringLiteral("d@example.jp"), QStringLiteral("e@example.jp"),
                          QStringLiteral("f@example.jp")};
    const compose::SendReport stopped =
        compose::sendMails(*mail, request, &stop, [&](int index, int, const QString&) {
            stop = index == 2; // asked while the second mail is begun
        });
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.sent, 2);
    EXPECT_TRUE(stopped.failures.isEmpty());
    QThread::msleep(postfix() ? 1500 : 0); // nothing more comes
    EXPECT_EQ(spoolOf(before + 5).size(), before + 5);
}

// An address in UTF-8 (RFC 6531) goes in a transaction that asks for
// SMTPUTF8 when the server offers it (Postfix here refuses such an address
// otherwise), and arrives as written. A server without SMTPUTF8 is not sent
// it (it would refuse it, or a lenient one pass it on mangled), and the user
// is told why.
TEST_P(SmtpSendTest, AnAddressInJapaneseGoesWithSmtpUtf8)
{
    const QString to = QStringLiteral("たろう@example.jp");
    const qsizetype before = servers->spooled().size();
    auto mail = library();
    ASSERT_EQ(mail->NMailSmtpSendMail(server(), QStringLiteral("太郎 <%1>").arg(to), {}, {},
                                      QStringLiteral("taro@example.jp"), QStringLiteral("宛先"),
                                      QStringLiteral("本文"), {}, {}, 0),
              0)
        << qPrintable(mail->NMailGetMessage(0));
    ASSERT_EQ(spoolOf(before + 1).size(), before + 1);
    const QByteArray envelope = servers->envelope(static_cast<int>(before));
    EXPECT_TRUE(envelope.contains("RCPT TO:" + to.toUtf8() + '\n')) << envelope.constData();
    EXPECT_TRUE(envelope.contains("SMTPUTF8\n")) << envelope.constData();

    if (!postfix()) {
        const QString ascii =
            QStringLiteral("127.0.0.1:") + servers->value(QStringLiteral("LUMORA_SMTP_SMALL_PORT"));
        EXPECT_LT(mail->NMailSmtpSendMail(ascii, to, {}, {}, QStringLiteral("taro@example.jp"),
                                          QStringLiteral("宛先"), QStringLiteral("本文"), {}, {},
                                          0),
                  0);
        EXPECT_TRUE(
            mail->NMailGetMessage(0).contains(QStringLiteral("（SMTPUTF8）に対応していません")))
            << qPrintable(mail->NMailGetMessage(0));
        EXPECT_EQ(spoolOf(before + 1).size(), before + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(BothServers, SmtpSendTest, ::testing::Values("spool", "postfix"),
                         [](const auto& server) { return std::string(server.param); });

// The pieces the client sent through a logging proxy, in order.
QList<QByteArray> clientPieces(const QString& log)
{
    QFile file(log);
    QList<QByteArray> pieces;
    if (!file.open(QIODevice::ReadOnly)) {
        return pieces;
    }
    const QByteArray all = file.readAll();
    qsizetype at = 0;
    while (at < all.size()) {
        const qsizetype newline = all.indexOf('\n', at);
        if (newline < 0) {
            break;
        }
        const qsizetype length = all.mid(at, newline - at).toLongLong();
        pieces.append(all.mid(newline + 1, length));
        at = newline + 1 + length;
    }
    return pieces;
}

// With a server that offers PIPELINING, each mail costs one wait: its MAIL
// FROM, RCPT TO and DATA go out in one piece, and from the second mail on
// together with the end of the mail before. With one that does not, every
// command waits for the reply to the one before. (The commands are read in
// the clear, so both cases talk to Postfix without STARTTLS; for the second,
// Postfix keeps PIPELINING out of its EHLO reply.)
TEST_P(SmtpSendTest, PipelinedCommandsShareOneRoundTrip)
{
    TempFolder folder;
    const QString log = folder.file(QStringLiteral("client.log"));
    const QString target = servers->value(postfix() ? QStringLiteral("LUMORA_POSTFIX_PLAIN_PORT")
                                                    : QStringLiteral("LUMORA_POSTFIX_SINGLE_PORT"));
    QProcess proxy;
    proxy.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(LUMORA_DELAY_PROXY), QStringLiteral("0"), target,
                 QStringLiteral("0"), QStringLiteral("--log"), log});
    ASSERT_TRUE(proxy.waitForReadyRead(10'000));
    const QByteArray ready = proxy.readLine().trimmed();
    ASSERT_TRUE(ready.startsWith("ready "));
    const QString port = QString::fromLatin1(ready.mid(6));

    const qsizetype before = servers->spooled().size();
    auto mail = library();
    compose::SendRequest request;
    request.server = QStringLiteral("127.0.0.1:") + port;
    request.from = QStringLiteral("taro@example.jp");
    request.subject = QStringLiteral("件名");
    request.body = QStringLiteral("本文");
    request.recipients = {QStringLiteral("a@example.jp"), QStringLiteral("b@example.jp"),
                          QStringLiteral("c@example.jp")};
    const compose::SendReport report = compose::sendMails(*mail, request);
    EXPECT_EQ(report.sent, 3) << qPrintable(report.summary());
    EXPECT_EQ(spoolOf(before + 3).size(), before + 3);
    mail.reset(); // QUIT
    proxy.kill();
    proxy.waitForFinished();

    const QList<QByteArray> pieces = clientPieces(log);
    int envelopes = 0;
    int afterEnd = 0;
    int alone = 0;
    for (const QByteArray& piece : pieces) {
        if (piece.contains("MAIL FROM:") && piece.contains("RCPT TO:") &&
            piece.contains("DATA\r\n")) {
            ++envelopes;
            afterEnd += piece.contains("\r\n.\r\nMAIL FROM:") ? 1 : 0;
        }
        alone += piece.startsWith("MAIL FROM:") && !piece.contains("RCPT") ? 1 : 0;
    }
    if (postfix()) {
        EXPECT_EQ(envelopes, 3) << pieces.join("|").constData();
        EXPECT_EQ(afterEnd, 2) << pieces.join("|").constData();
    } else {
        EXPECT_EQ(envelopes, 0) << pieces.join("|").constData();
        EXPECT_EQ(alone, 3) << pieces.join("|").constData();
    }
}

// A plain server of the test's own (scripted_smtp.py): its port, and what
// it was sent.
struct ScriptedSmtp : lumora::test::ScriptServer {
    QString host;

    ScriptedSmtp(const QString& listenHost, int listenPort, const QStringList& options = {})
        : host(listenHost)
    {
        start(QStringLiteral(LUMORA_SCRIPTED_SMTP),
              QStringList{listenHost, QString::number(listenPort), log()} + options);
    }
    QString address() const { return host + u':' + port; }
};

std::unique_ptr<MailLibrary> plainLibrary(const QString& password = QStringLiteral("secret"),
                                          int stallSeconds = 0)
{
    MailLibraryOptions options;
    options.stallSeconds = stallSeconds;
    auto mail = createMailLibrary(options);
    mail->NMailInitializeWinSock();
    mail->NMailSetAccount(QStringLiteral("taro"), password);
    return mail;
}

int sendTo(MailLibrary& mail, const QString& server, const QString& subject)
{
    return mail.NMailSmtpSendMail(server, QStringLiteral("hanako@example.jp"), {}, {},
                                  QStringLiteral("taro@example.jp"), subject,
                                  QStringLiteral("本文"), {}, {}, 0);
}

// "smtp://host:587" asks for STARTTLS: a server there that does not offer it
// gets neither the password nor the mail, and the user is told why. The
// same server named without the scheme is sent to when it offers no TLS.
TEST(SmtpConnection, TheSubmissionPortNamedWithItsSchemeIsNotUsedWithoutTls)
{
    // Port 587 is a privileged port; another loopback address keeps clear
    // of a server this machine may run on it.
    ScriptedSmtp plain(QStringLiteral("127.0.0.2"), 587);
    if (!plain.listening()) {
        GTEST_SKIP() << "cannot listen on 127.0.0.2:587: " << plain.port.toStdString();
    }
    auto mail = plainLibrary();
    EXPECT_LT(sendTo(*mail, QStringLiteral("smtp://127.0.0.2:587"), QStringLiteral("a")), 0);
    EXPECT_TRUE(mail->NMailGetMessage(0).contains(QStringLiteral("暗号化通信に対応していません")))
        << qPrintable(mail->NMailGetMessage(0));
    EXPECT_FALSE(plain.commands().contains("AUTH")) << plain.commands().constData();
    EXPECT_FALSE(plain.commands().contains("MAIL")) << plain.commands().constData();

    ASSERT_EQ(sendTo(*mail, QStringLiteral("127.0.0.2:587"), QStringLiteral("b")), 0)
        << qPrintable(mail->NMailGetMessage(0));
    EXPECT_TRUE(plain.commands().contains("MAIL FROM:<taro@example.jp>"))
        << plain.commands().constData();
}

// A server that ends an idle connection (421, then closes it) between two
// sends: the next send opens a new connection and logs in again, and the
// user never sees the server's good-bye.
TEST(SmtpConnection, AConnectionTheServerClosedWhileIdleIsOpenedAgain)
{
    ScriptedSmtp server(QStringLiteral("127.0.0.1"), 0, {QStringLiteral("--hang-up-when-idle")});
    ASSERT_TRUE(server.listening()) << server.port.toStdString();
    const QString address = server.address();
    auto mail = plainLibrary();
    ASSERT_EQ(sendTo(*mail, address, QStringLiteral("一通目")), 0)
        << qPrintable(mail->NMailGetMessage(0));
    QThread::msleep(400); // the server has said 421 and closed
    ASSERT_EQ(sendTo(*mail, address, QStringLiteral("二通目")), 0)
        << qPrintable(mail->NMailGetMessage(0));
    const QByteArray commands = server.commands();
    EXPECT_EQ(commands.count("CONNECT\n"), 2) << commands.constData();
    EXPECT_EQ(commands.count("AUTH "), 2) << commands.constData();
    EXPECT_EQ(commands.count("MAIL FROM:"), 2) << commands.constData();
}

// A run to a server that pipelines but takes ASCII only: the address in
// UTF-8 is not sent, even where its commands would have gone with the mail
// before; the mails around it are.
TEST(SmtpConnection, ARunToAServerWithoutSmtpUtf8LeavesOutTheAddressInUtf8)
{
    ScriptedSmtp server(QStringLiteral("127.0.0.1"), 0, {QStringLiteral("--pipelining")});
    ASSERT_TRUE(server.listening()) << server.port.toStdString();
    auto mail = plainLibrary();
    compose::SendRequest request;
    request.server = server.address();
    request.from = QStringLiteral("taro@example.jp");
    request.subject = QStringLiteral("件名");
    request.body = QStringLiteral("本文");
    request.recipients = {QStringLiteral("a@example.jp"), QStringLiteral("たろう@example.jp"),
                          QStringLiteral("b@example.jp")};
    const compose::SendReport report = compose::sendMails(*mail, request);
    EXPECT_EQ(report.sent, 2);
    ASSERT_EQ(report.failures.size(), 1);
    EXPECT_EQ(report.failures[0].recipient, request.recipients[1]);
    EXPECT_TRUE(report.failures[0].message.contains(QStringLiteral("SMTPUTF8")))
        << qPrintable(report.failures[0].message);
    mail.reset();
    const QByteArray commands = server.commands();
    EXPECT_EQ(commands.count("RCPT TO:"), 2) << commands.constData();
}

// A server that takes AUTH LOGIN alone: the ID and password go in its two
// steps, and a wrong password is told as a refused log-in with the
// server's words.
TEST(SmtpConnection, AuthLoginIsUsedWhenItIsAllTheServerTakes)
{
    ScriptedSmtp server(QStringLiteral("127.0.0.1"), 0, {QStringLiteral("--login-only")});
    ASSERT_TRUE(server.listening()) << server.port.toStdString();
    const QString address = server.address();
    auto mail = plainLibrary();
    ASSERT_EQ(sendTo(*mail, address, QStringLiteral("件名")), 0)
        << qPrintable(mail->NMailGetMessage(0));
    EXPECT_TRUE(server.commands().contains("LOGIN user=taro password=secret\n"))
        << server.commands().constData();

    auto wrong = plainLibrary(QStringLiteral("wrong"));
    EXPECT_LT(sendTo(*wrong, address, QStringLiteral("件名")), 0);
    EXPECT_TRUE(wrong->NMailGetMessage(0).contains(QStringLiteral("ログインできません")))
        << qPrintable(wrong->NMailGetMessage(0));
    EXPECT_TRUE(wrong->NMailGetMessage(0).contains(QStringLiteral("サーバーの応答: 535")))
        << qPrintable(wrong->NMailGetMessage(0));
    EXPECT_EQ(server.commands().count("MAIL FROM:"), 1) << server.commands().constData();
}

// A server that never answers the end of a mail is given up at the stall
// limit, and one whose reply never ends once it is too long; each failure
// is told, in words that fit a send.
TEST(SmtpConnection, AServerThatFallsSilentOrNeverStopsIsGivenUp)
{
    {
        ScriptedSmtp server(QStringLiteral("127.0.0.1"), 0,
                            {QStringLiteral("--silent-after-data")});
        ASSERT_TRUE(server.listening()) << server.port.toStdString();
        auto mail = plainLibrary(QStringLiteral("secret"), 2);
        QElapsedTimer timer;
        timer.start();
        EXPECT_LT(sendTo(*mail, server.address(), QStringLiteral("s")), 0);
        EXPECT_GE(timer.elapsed(), 1'500);
        EXPECT_LT(timer.elapsed(), 10'000);
        EXPECT_TRUE(mail->NMailGetMessage(0).contains(QStringLiteral("応答がありません")))
            << qPrintable(mail->NMailGetMessage(0));
    }
    {
        ScriptedSmtp server(QStringLiteral("127.0.0.1"), 0, {QStringLiteral("--endless-ehlo")});
        ASSERT_TRUE(server.listening()) << server.port.toStdString();
        auto mail = plainLibrary();
        EXPECT_LT(sendTo(*mail, server.address(), QStringLiteral("s")), 0);
        EXPECT_TRUE(mail->NMailGetMessage(0).contains(
            QStringLiteral("サーバーの応答が長すぎるため、通信を中止しました")))
            << qPrintable(mail->NMailGetMessage(0));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
