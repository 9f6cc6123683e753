// The mail library and the receive cycle against real servers: Dovecot for
// POP3 and the project's SMTP server, started for this test program.

#include "mail/mail_library.h"
#include "mail/mime_composer.h"
#include "mail/mime_decoder.h"
#include "mail/receive_cycle.h"
#include "mail/smtp_session.h"
#include "settings/account_settings.h"
#include "store/originals.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "support/mail_samples.h"
#include "support/mail_servers.h"
#include "support/script_server.h"
#include "support/temp_folder.h"
#include "viewer/original_mail.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstring>

#include <sys/stat.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace lumora;
using lumora::test::MailServers;
using lumora::test::TempFolder;

namespace {

MailServers* servers = nullptr;

const QByteArray kJapaneseMail = "From: =?ISO-2022-JP?B?GyRCQkBPOhsoQg==?= <taro@example.jp>\r\n"
                                 "To: hanako@example.jp\r\n"
                                 "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n"
                                 "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\n"
                                 "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
                                 "\x1b$B$3$s$K$A$O\x1b(B\r\n"
                                 ".dot line\r\n";

class MailServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        servers = new MailServers;
        ASSERT_TRUE(servers->started()) << "the test mail servers did not start";
    }
    static void TearDownTestSuite()
    {
        delete servers;
        servers = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(servers && servers->started());
        // Mails left by an earlier test would change the counts.
        drain(QStringLiteral("taro"), QStringLiteral("secret"));
        drain(QStringLiteral("hanako"), QStringLiteral("himitsu"));
    }

    std::unique_ptr<MailLibrary> library(const QString& caFile = {})
    {
        MailLibraryOptions options;
        options.caFile = caFile.isEmpty() ? servers->caFile() : caFile;
        auto mail = createMailLibrary(options);
        mail->NMailInitializeWinSock();
        return mail;
    }

    // An application folder in app whose account is hanako's; an empty one
    // (and a test failure) when it cannot be made.
    static AppPaths hanakosFolder(const TempFolder& app)
    {
        const AppPaths paths = AppPaths::at(app.path());
        const bool made =
            paths.createFolders().ok() &&
            account::writeCredentials(paths.accountFile(),
                                      {QStringLiteral("hanako"), QStringLiteral("himitsu")}, true)
                .ok();
        EXPECT_TRUE(made);
        return made ? paths : AppPaths();
    }

    void drain(const QString& user, const QString& password)
    {
        auto mail = library();
        const int h = mail->NMailPop3Connect(servers->pop3());
        const int n = mail->NMailPop3Authenticate(h, user, password, 0);
        for (int i = 1; i <= n; ++i) {
            mail->NMailPop3DeleteMail(h, i);
        }
        mail->NMailPop3Close(h);
    }
};

TEST_F(MailServerTest, ReceivesOverStlsAndDeletesOnlyAtQuit)
{
    servers->deliver(QStringLiteral("taro"), kJapaneseMail);
    servers->deliver(QStringLiteral("taro"), "Subject: two\r\n\r\nsecond\r\n");
    auto mail = library();
    int h = mail->NMailPop3Connect(servers->pop3());
    ASSERT_GT(h, 0);
    ASSERT_EQ(mail->NMailPop3Authenticate(h, QStringLiteral("taro"), QStringLiteral("secret"), 0),
              2);
    EXPECT_FALSE(mail->NMailPop3GetMailUid(h, 1).isEmpty());
    EXPECT_NE(mail->NMailPop3GetMailUid(h, 1), mail->NMailPop3GetMailUid(h, 2));
    EXPECT_EQ(mail->NMailPop3GetMailSize(h, 1), kJapaneseMail.size());

    MailFields fields;
    QString body;
    ASSERT_EQ(mail->NMailPop3GetMailStatus(h, 1, fields, 0), 0);
    EXPECT_EQ(fields.subject, QStringLiteral("テスト"));
    EXPECT_EQ(fields.from, QStringLiteral("太郎 <taro@example.jp>"));
    ASSERT_EQ(mail->NMailPop3GetMail(h, 1, fields, body, 0, 0), 0);
    // Undecoded, byte for byte, and the dot line unstuffed.
    EXPECT_EQ(body.toLatin1(), QByteArray("\x1b$B$3$s$K$A$O\x1b(B\r\n.dot line\r\n"));
    EXPECT_TRUE(fields.header.startsWith(QStringLiteral("From: =?ISO-2022-JP?B?")));

    // Marked, then unmarked: nothing goes.
    mail->NMailPop3DeleteMail(h, 1);
    mail->NMailPop3Reset(h);
    mail->NMailPop3Close(h);
    EXPECT_EQ(servers->waiting(QStringLiteral("taro")), 2);

    h = mail->NMailPop3Connect(servers->pop3());
    ASSERT_EQ(mail->NMailPop3Authenticate(h, QStringLiteral("taro"), QStringLiteral("secret"), 0),
              2);
    mail->NMailPop3DeleteMail(h, 1);
    mail->NMailPop3DeleteMail(h, 2);
    EXPECT_EQ(servers->waiting(QStringLiteral("taro")), 2); // not before QUIT
    mail->NMailPop3Close(h);
    EXPECT_EQ(servers->waiting(QStringLiteral("taro")), 0);
}

// The cycle asks for the mails it planned in order, but the library takes
// any order: mails ahead of the requests in flight, and mails planned but
// passed over, come as asked.
TEST_F(MailServerTest, PlannedMailsComeInAnyOrderTheyAreAskedFor)
{
    for (int n = 1; n <= 40; ++n) {
        servers->deliver(QStringLiteral("taro"), "Subject: " + QByteArray::number(n) +
                                                     "\r\n\r\nmail " + QByteArray::number(n) +
                                                     "\r\n");
    }
    QList<int> all;
    for (int n = 1; n <= 40; ++n) {
        all.append(n);
    }
    auto mail = library();
    // The subject of each number, asked for in the planned order.
    QStringList subjects{QString()};
    int h = mail->NMailPop3Connect(servers->pop3());
    ASSERT_EQ(mail->NMailPop3Authenticate(h, QStringLiteral("taro"), QStringLiteral("secret"), 0),
              40);
    mail->NMailPop3WillGetMails(h, all);
    for (const int n : all) {
        MailFields fields;
        QString body;
        ASSERT_EQ(mail->NMailPop3GetMail(h, n, fields, body, 0, 0), 0) << n;
        subjects.append(fields.subject);
    }
    mail->NMailPop3Close(h);

    h = mail->NMailPop3Connect(servers->pop3());
    ASSERT_EQ(mail->NMailPop3Authenticate(h, QStringLiteral("taro"), QStringLiteral("secret"), 0),
              40);
    mail->NMailPop3WillGetMails(h, all);
    for (const int n : {1, 39, 2, 35, 40, 20, 3}) {
        MailFields fields;
        QString body;
        ASSERT_EQ(mail->NMailPop3GetMail(h, n, fields, body, 0, 0), 0) << n;
        EXPECT_EQ(fields.subject, subjects[n]) << n;
        EXPECT_EQ(body, QStringLiteral("mail ") + subjects[n] + QStringLiteral("\r\n")) << n;
    }
    mail->NMailPop3Close(h);
    EXPECT_EQ(servers->waiting(QStringLiteral("taro")), 40);
}

TEST_F(MailServerTest, ApopPop3sAndTheirFailures)
{
    servers->deliver(QStringLiteral("hanako"), kJapaneseMail);
    auto mail = library();
    int h = mail->NMailPop3Connect(servers->pop3());
    EXPECT_EQ(
        mail->NMailPop3Authenticate(h, QStringLiteral("hanako"), QStringLiteral("himitsu"), -1), 1);
    mail->NMailPop3Close(h);

    h = mail->NMailPop3Connect(servers->pop3());
    EXPECT_LT(mail->NMailPop3Authenticate(h, QStringLiteral("hanako"), QStringLiteral("wrong"), -1),
              0);
    EXPECT_TRUE(mail->NMailGetMessage(0).startsWith(QStringLiteral("IDまたはパスワード")));
    EXPECT_TRUE(mail->NMailGetMessage(0).contains(QStringLiteral("-ERR")));
    mail->NMailPop3Close(h);

    h = mail->NMailPop3Connect(servers->pop3s());
    EXPECT_EQ(
        mail->NMailPop3Authenticate(h, QStringLiteral("hanako"), QStringLiteral("himitsu"), 0), 1);
    mail->NMailPop3Close(h);

    // A certificate from a CA we do not trust: refused, on POP3S and on STLS.
    auto untrusting = library(servers->otherCaFile());
    // POP3S finds it at connect, STLS at the log-in.
    for (const QString& server : {servers->pop3s(), servers->pop3()}) {
        h = untrusting->NMailPop3Connect(server);
        EXPECT_EQ(h == -1, server == servers->pop3s());
        if (h != -1) {
            EXPECT_LT(untrusting->NMailPop3Authenticate(h, QStringLiteral("hanako"),
                                                        QStringLiteral("himitsu"), 0),
                      0);
        }
        const QString message = untrusting->NMailGetMessage(0);
        EXPECT_TRUE(message.contains(QStringLiteral("証明書"))) << qPrintable(message);
        EXPECT_TRUE(message.contains(QStringLiteral("127.0.0.1")));
        untrusting->NMailPop3Close(h);
    }
    EXPECT_EQ(servers->waiting(QStringLiteral("hanako")), 1);
}

// The SHA-256 fingerprint of a PEM certificate file, as "AB:CD:...".
QString pemFingerprint(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QByteArray body;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.startsWith("-----")) {
            body += line.trimmed();
        }
    }
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::fromBase64(body), QCryptographicHash::Sha256)
            .toHex(':')
            .toUpper());
}

int portOf(const QString& server)
{
    return server.section(u':', -1).section(u'/', 0, 0).toInt();
}

TEST_F(MailServerTest, AnUnverifiedCertificateIsShownAndCanBeTrustedForItsServerOnly)
{
    servers->deliver(QStringLiteral("hanako"), kJapaneseMail);
    TempFolder folder;
    const QString trustFile = folder.file(QStringLiteral("trust.txt"));
    MailLibraryOptions options;
    options.caFile = servers->otherCaFile(); // the servers' CA is unknown here
    options.trustFile = trustFile;
    auto mail = createMailLibrary(options);
    mail->NMailInitializeWinSock();

    EXPECT_EQ(mail->NMailPop3Connect(servers->pop3s()), -1);
    const std::optional<ServerCertificate> shown = mail->NMailGetCertificate();
    ASSERT_TRUE(shown);
    const QString serverCertificate =
        QFileInfo(servers->caFile()).absolutePath() + QStringLiteral("/server.crt");
    EXPECT_EQ(shown->fingerprint, pemFingerprint(serverCertificate));
    EXPECT_EQ(shown->fingerprint.size(), 32 * 3 - 1);
    EXPECT_EQ(shown->host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(shown->port, portOf(servers->pop3s()));
    EXPECT_TRUE(shown->subject.contains(QStringLiteral("CN=127.0.0.1")));
    EXPECT_TRUE(shown->issuer.contains(QStringLiteral("Lumora Test CA")));
    EXPECT_LT(shown->notBefore, QDateTime::currentDateTimeUtc());
    EXPECT_GT(shown->notAfter, QDateTime::currentDateTimeUtc());
    EXPECT_FALSE(shown->reason.isEmpty());
    EXPECT_FALSE(shown->changed());
    EXPECT_TRUE(mail->NMailGetMessage(0).contains(QStringLiteral("証明書")));
    EXPECT_FALSE(QFile::exists(trustFile)); // asking stores nothing

    // Trusted: kept with the owner's permissions only, and used from then on.
    ASSERT_TRUE(mail->NMailTrustCertificate(*shown));
    struct stat status = {};
    ASSERT_EQ(::stat(QFile::encodeName(trustFile).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    int h = mail->NMailPop3Connect(servers->pop3s());
    ASSERT_NE(h, -1) << qPrintable(mail->NMailGetMessage(0));
    EXPECT_FALSE(mail->NMailGetCertificate());
    EXPECT_EQ(
        mail->NMailPop3Authenticate(h, QStringLiteral("hanako"), QStringLiteral("himitsu"), 0), 1);
    mail->NMailPop3Close(h);

    // The same certificate on another port of the same host was not trusted
    // (STLS is judged at the log-in), nor was the SMTP server.
    h = mail->NMailPop3Connect(servers->pop3());
    EXPECT_LT(
        mail->NMailPop3Authenticate(h, QStringLiteral("hanako"), QStringLiteral("himitsu"), 0), 0);
    ASSERT_TRUE(mail->NMailGetCertificate());
    EXPECT_EQ(mail->NMailGetCertificate()->port, portOf(servers->pop3()));
    mail->NMailPop3Close(h);

    const auto send = [&] {
        return mail->NMailSmtpSendMail(servers->smtp(), QStringLiteral("hanako@example.jp"), {}, {},
                                       QStringLiteral("taro@example.jp"), QStringLiteral("信頼"),
                                       QStringLiteral("本文"), {}, {}, 0);
    };
    mail->NMailSetAccount(QStringLiteral("taro"), QStringLiteral("secret"));
    const auto before = servers->spooled().size();
    EXPECT_LT(send(), 0);
    const std::optional<ServerCertificate> smtpShown = mail->NMailGetCertificate();
    ASSERT_TRUE(smtpShown);
    EXPECT_EQ(smtpShown->port, portOf(servers->smtp()));
    EXPECT_EQ(smtpShown->fingerprint, shown->fingerprint);
    EXPECT_TRUE(mail->NMailGetMessage(0).contains(QStringLiteral("証明書")));
    ASSERT_TRUE(mail->NMailTrustCertificate(*smtpShown));
    EXPECT_EQ(send(), 0) << qPrintable(mail->NMailGetMessage(0));
    EXPECT_EQ(servers->spooled().size(), before + 1);

    // A server trusted with another certificate refuses, naming both; the
    // other servers' lines are left alone.
    QFile file(trustFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray lines = file.readAll();
    file.close();
    EXPECT_EQ(lines.count("\r\n"), 2);
    const QString earlier = QString(shown->fingerprint).replace(0, 2, QStringLiteral("00"));
    lines.replace(shown->fingerprint.toLatin1(), earlier.toLatin1());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(lines);
    file.close();
    EXPECT_EQ(mail->NMailPop3Connect(servers->pop3s()), -1);
    const std::optional<ServerCertificate> changed = mail->NMailGetCertificate();
    ASSERT_TRUE(changed);
    EXPECT_TRUE(changed->changed());
    EXPECT_EQ(changed->trustedFingerprint, earlier);
    EXPECT_EQ(changed->fingerprint, shown->fingerprint);
    EXPECT_TRUE(mail->NMailGetMessage(0).contains(QStringLiteral("変わって")));
    const QString text = certificateText(*changed);
    EXPECT_TRUE(text.contains(earlier) && text.contains(shown->fingerprint));
    EXPECT_EQ(send(), 0) << "the SMTP server's line still holds";

    // A library without a trust file trusts nothing.
    MailLibraryOptions untrusting;
    untrusting.caFile = servers->otherCaFile();
    auto headless = createMailLibrary(untrusting);
    EXPECT_FALSE(headless->NMailTrustCertificate(*shown));
    EXPECT_EQ(headless->NMailPop3Connect(servers->pop3s()), -1);
}

// The machine's own name when it leads to 127.0.0.1 (where the servers
// listen) and the servers' certificate does not carry it; empty otherwise.
QString loopbackNameNotInCertificate()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || std::strcmp(name, "localhost") == 0) {
        return {};
    }
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0) {
        return {};
    }
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const bool loopback = ntohl(address->sin_addr.s_addr) == INADDR_LOOPBACK;
    ::freeaddrinfo(found);
    return loopback ? QString::fromLocal8Bit(name) : QString();
}

TEST_F(MailServerTest, ACertificateForAnotherNameIsRefusedUntilTrusted)
{
    const QString name = loopbackNameNotInCertificate();
    if (name.isEmpty()) {
        GTEST_SKIP() << "this machine's name does not lead to 127.0.0.1";
    }
    TempFolder folder;
    MailLibraryOptions options;
    options.caFile = servers->caFile(); // the chain is good; the name is not
    options.trustFile = folder.file(QStringLiteral("trust.txt"));
    auto mail = createMailLibrary(options);
    mail->NMailInitializeWinSock();
    mail->NMailSetAccount(QStringLiteral("taro"), QStringLiteral("secret"));
    const QString smtp = name + u':' + servers->smtp().section(u':', -1);
    const QString pop3s =
        QStringLiteral("pop3s://") + name + u':' + servers->pop3s().section(u':', -1);
    const auto send = [&] {
        return mail->NMailSmtpSendMail(smtp, QStringLiteral("hanako@example.jp"), {}, {},
                                       QStringLiteral("taro@example.jp"), QStringLiteral("名前"),
                                       QStringLiteral("本文"), {}, {}, 0);
    };
    for (int round = 0; round < 2; ++round) {
        const bool trusted = round == 1;
        EXPECT_EQ(mail->NMailPop3Connect(pop3s) != -1, trusted);
        std::optional<ServerCertificate> shown = mail->NMailGetCertificate();
        EXPECT_EQ(!shown, trusted);
        EXPECT_EQ(send() == 0, trusted) << qPrintable(mail->NMailGetMessage(0));
        std::optional<ServerCertificate> smtpShown = mail->NMailGetCertificate();
        EXPECT_EQ(!smtpShown, trusted);
        if (!trusted) {
            ASSERT_TRUE(shown && smtpShown);
            EXPECT_TRUE(shown->reason.contains(QStringLiteral("名前")))
                << qPrintable(shown->reason);
            EXPECT_TRUE(smtpShown->reason.contains(QStringLiteral("名前")));
            EXPECT_EQ(shown->host, name);
            ASSERT_TRUE(mail->NMailTrustCertificate(*shown));
            ASSERT_TRUE(mail->NMailTrustCertificate(*smtpShown));
        }
    }
}

TEST_F(MailServerTest, UnreachableServersAreFoundAtConnect)
{
    auto mail = library();
    EXPECT_EQ(mail->NMailPop3Connect(QStringLiteral("127.0.0.1:1")), -1);
    EXPECT_TRUE(mail->NMailGetMessage(0).contains(QStringLiteral("接続できません")));
    EXPECT_EQ(mail->NMailPop3Connect(QStringLiteral("no-such-host.invalid")), -1);
    EXPECT_TRUE(mail->NMailGetMessage(0).contains(QStringLiteral("見つかりません")));
    EXPECT_EQ(mail->NMailPop3Connect(QStringLiteral("ftp://example.jp")), -1);
}

// A POP3 server whose greeting carries a challenge APOP must not answer.
TEST_F(MailServerTest, ApopRefusesAnUnsafeGreeting)
{
    for (const QByteArray& greeting :
         {QByteArray("+OK ready <1234.5678>\r\n"), QByteArray("+OK ready <12\x80\x81@host>\r\n"),
          QByteArray("+OK ready\r\n")}) {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(listener, 4), 0);
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        const int port = ntohs(address.sin_port);
        QByteArray received;
        std::thread server([&] {
            for (int connection = 0; connection < 2; ++connection) { // the probe, then curl
                const int client = ::accept(listener, nullptr, nullptr);
                if (client < 0) {
                    return;
                }
                (void)::write(client, greeting.constData(), static_cast<size_t>(greeting.size()));
                char buffer[512];
                ssize_t n;
                while ((n = ::read(client, buffer, sizeof buffer)) > 0) {
                    received.append(buffer, n);
                    if (received.contains("QUIT")) {
                        break;
                    }
                }
                ::close(client);
            }
        });
        auto mail = library();
        const int h = mail->NMailPop3Connect(QStringLiteral("127.0.0.1:%1").arg(port));
        ASSERT_GT(h, 0);
        EXPECT_LT(
            mail->NMailPop3Authenticate(h, QStringLiteral("taro"), QStringLiteral("secret"), -1),
            0);
        EXPECT_TRUE(mail->NMailGetMessage(0).contains(QStringLiteral("APOP")));
        mail->NMailPop3Close(h);
        mail.reset();
        ::shutdown(listener, SHUT_RDWR);
        server.join();
        ::close(listener);
        EXPECT_FALSE(received.contains("APOP")) << received.constData();
        EXPECT_FALSE(received.contains("secret"));
    }
}

TEST_F(MailServerTest, SendsJapaneseMailWithAttachmentAndRefusesInjection)
{
    TempFolder files;
    const QByteArray pdf = QByteArray("%PDF-1.4\n") + QByteArray(70000, '\x01') + "\n%%EOF";
    files.write(QStringLiteral("見積書①.pdf"), pdf);
    const int before = static_cast<int>(servers->spooled().size());
    auto mail = library();
    mail->NMailSetAccount(QStringLiteral("taro"), QStringLiteral("secret"));
    const QString body = QStringLiteral("山田様\r\nお世話になっております。ｶﾀｶﾅ と ①\r\n.\r\n以上");
    ASSERT_EQ(mail->NMailSmtpSendMail(servers->smtp(), QStringLiteral("花子 <hanako@example.jp>"),
                                      {}, {}, QStringLiteral("太郎 <taro@example.jp>"),
                                      QStringLiteral("お見積りの件"), body, {},
                                      {files.file(QStringLiteral("見積書①.pdf"))}, 0),
              0)
        << qPrintable(mail->NMailGetMessage(0));
    ASSERT_EQ(mail->NMailSmtpSendMail(servers->smtp(), QStringLiteral("hanako@example.jp"), {}, {},
                                      QStringLiteral("taro@example.jp"), QStringLiteral("二通目"),
                                      QStringLiteral("x"), {}, {}, 0),
              0);
    const QList<QByteArray> spool = servers->spooled();
    ASSERT_EQ(spool.size(), before + 2);
    EXPECT_TRUE(servers->envelope(before).contains("RCPT TO:hanako@example.jp"));
    const QByteArray& sent = spool[before];
    // The subject is plain JIS X 0208; the body holds half-width kana and ①,
    // which only UTF-8 carries as every reader reads them.
    EXPECT_TRUE(sent.contains("Subject: =?ISO-2022-JP?B?"));
    EXPECT_TRUE(sent.contains("charset=UTF-8"));
    EXPECT_TRUE(servers->spooled()[before + 1].contains("charset=ISO-2022-JP"));
    EXPECT_TRUE(sent.contains("filename*=UTF-8''"));
    EXPECT_TRUE(sent.contains("name=\"=?"));
    EXPECT_TRUE(sent.contains("Message-ID: <"));
    for (const QByteArray& line : sent.split('\n')) {
        EXPECT_LE(line.size(), 999);
    }

    const mime::DecodedMail decoded = mime::decodeMail(sent);
    EXPECT_EQ(decoded.subject, QStringLiteral("お見積りの件"));
    EXPECT_EQ(decoded.from, QStringLiteral("太郎 <taro@example.jp>"));
    EXPECT_EQ(decoded.body, body + QStringLiteral("\r\n"));
    ASSERT_EQ(decoded.attachments.size(), 1);
    EXPECT_EQ(decoded.attachments[0].name, QStringLiteral("見積書①.pdf"));
    EXPECT_EQ(decoded.attachments[0].data, pdf);

    // A wrong password is refused by the server's AUTH; a header line cannot
    // be smuggled in through the subject or a recipient.
    auto other = library();
    other->NMailSetAccount(QStringLiteral("taro"), QStringLiteral("wrong"));
    EXPECT_LT(other->NMailSmtpSendMail(servers->smtp(), QStringLiteral("hanako@example.jp"), {}, {},
                                       QStringLiteral("taro@example.jp"), QStringLiteral("s"),
                                       QStringLiteral("b"), {}, {}, 0),
              0);
    EXPECT_TRUE(other->NMailGetMessage(0).contains(QStringLiteral("ログインできません")));
    EXPECT_LT(mail->NMailSmtpSendMail(servers->smtp(), QStringLiteral("hanako@example.jp"), {}, {},
                                      QStringLiteral("taro@example.jp"),
                                      QStringLiteral("s\r\nBcc: evil@example.com"),
                                      QStringLiteral("b"), {}, {}, 0),
              0);
    EXPECT_LT(mail->NMailSmtpSendMail(servers->smtp(),
                                      QStringLiteral("hanako@example.jp\nevil@example.com"), {}, {},
                                      QStringLiteral("taro@example.jp"), QStringLiteral("s"),
                                      QStringLiteral("b"), {}, {}, 0),
              0);
    EXPECT_EQ(servers->spooled().size(), before + 2);
    // Implicit TLS.
    EXPECT_EQ(mail->NMailSmtpSendMail(servers->smtps(), QStringLiteral("hanako@example.jp"), {}, {},
                                      QStringLiteral("taro@example.jp"), QStringLiteral("tls"),
                                      QStringLiteral("b"), {}, {}, 0),
              0)
        << qPrintable(mail->NMailGetMessage(0));
}

// What other programs read: Python's email package finds no defect and
// exactly the text written, a 1107-character line whole and ①㈱№ in the
// subject, the body and a file name.
TEST_F(MailServerTest, EveryReaderReadsTheMailAsWritten)
{
    TempFolder files;
    const QString name = QStringLiteral("報告①㈱№.txt");
    files.write(name, "report");
    const QString longLine = QStringLiteral("https://example.jp/") + QString(1088, u'x');
    const QString subject = QStringLiteral("①㈱№の件 ⅢⅣ ｶﾅ");
    const QString body =
        QStringLiteral("①㈱№ と ﾊﾝｶｸ\r\n") + longLine + QStringLiteral("\r\n終わり");
    const QString plainBody = QStringLiteral("ご確認ください。\r\n") + longLine;
    const int before = static_cast<int>(servers->spooled().size());
    auto mail = library();
    mail->NMailSetAccount(QStringLiteral("taro"), QStringLiteral("secret"));
    ASSERT_EQ(mail->NMailSmtpSendMail(servers->smtp(), QStringLiteral("hanako@example.jp"), {}, {},
                                      QStringLiteral("taro@example.jp"), subject, body, {},
                                      {files.file(name)}, 0),
              0)
        << qPrintable(mail->NMailGetMessage(0));
    ASSERT_EQ(mail->NMailSmtpSendMail(servers->smtp(), QStringLiteral("hanako@example.jp"), {}, {},
                                      QStringLiteral("taro@example.jp"), QStringLiteral("確認"),
                                      plainBody, {}, {}, 0),
              0);
    QProcess reader;
    reader.start(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(LUMORA_SPOOL_READER), servers->value(QStringLiteral("LUMORA_SMTP_SPOOL"))});
    ASSERT_TRUE(reader.waitForFinished(30'000));
    const QJsonArray all = QJsonDocument::fromJson(reader.readAllStandardOutput()).array();
    ASSERT_EQ(all.size(), before + 2);
    const QJsonObject first = all.at(before).toObject();
    EXPECT_EQ(first[u"defects"].toArray(), QJsonArray());
    EXPECT_EQ(first[u"subject"].toString(), subject);
    QString wanted = body + QStringLiteral("\r\n");
    wanted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // Python keeps the mail's CR LF inside the text; a reader sees line ends.
    const auto lines = [](QString text) {
        return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    };
    EXPECT_EQ(lines(first[u"body"].toString()), wanted);
    ASSERT_EQ(first[u"attachments"].toArray().size(), 1);
    EXPECT_EQ(first[u"attachments"].toArray()[0].toObject()[u"name"].toString(), name);
    const QJsonObject second = all.at(before + 1).toObject();
    EXPECT_EQ(second[u"defects"].toArray(), QJsonArray());
    QString plainWanted = plainBody + QStringLiteral("\r\n");
    plainWanted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_EQ(lines(second[u"body"].toString()), plainWanted);
    for (const QByteArray& raw : servers->spooled().mid(before)) {
        for (const QByteArray& line : raw.split('\n')) {
            EXPECT_LE(line.size(), 999);
        }
    }
}

// A private CA given through SSL_CERT_FILE alone: the receive and the send
// trust exactly the same certificates, and distrust the same.
TEST_F(MailServerTest, SendingAndReceivingTrustTheSameCertificates)
{
    TempFolder empty;
    const auto attempt = [&](const QString& caFile, bool expected) {
        qputenv("SSL_CERT_FILE", caFile.toUtf8());
        qputenv("SSL_CERT_DIR", empty.path().toUtf8());
        auto mail = createMailLibrary({}); // the system's store, as OpenSSL finds it
        mail->NMailInitializeWinSock();
        mail->NMailSetAccount(QStringLiteral("taro"), QStringLiteral("secret"));
        const int h = mail->NMailPop3Connect(servers->pop3());
        const int received = h > 0 ? mail->NMailPop3Authenticate(h, QStringLiteral("taro"),
                                                                 QStringLiteral("secret"), 0)
                                   : -1;
        if (h > 0) {
            mail->NMailPop3Close(h);
        }
        EXPECT_EQ(received >= 0, expected) << qPrintable(mail->NMailGetMessage(0));
        const int sent =
            mail->NMailSmtpSendMail(servers->smtp(), QStringLiteral("hanako@example.jp"), {}, {},
                                    QStringLiteral("taro@example.jp"), QStringLiteral("trust"),
                                    QStringLiteral("b"), {}, {}, 0);
        EXPECT_EQ(sent >= 0, expected) << qPrintable(mail->NMailGetMessage(0));
    };
    attempt(servers->caFile(), true);
    attempt(servers->otherCaFile(), false);
    qunsetenv("SSL_CERT_FILE");
    qunsetenv("SSL_CERT_DIR");
}

TEST_F(MailServerTest, HostileAttachmentNamesArriveAsNamesAndNothingElse)
{
    // File names that could end a parameter or a header line, and what is
    // not a regular file.
    TempFolder files;
    const QStringList names = {QStringLiteral("a\r\nX-Injected: yes.txt"),
                               QStringLiteral("a\"; filename=\"evil.exe"),
                               QStringLiteral("b\\c;d=e 報告.txt")};
    QStringList paths;
    for (const QString& name : names) {
        files.write(name, name.toUtf8());
        paths << files.file(name);
    }
    const int before = static_cast<int>(servers->spooled().size());
    auto mail = library();
    mail->NMailSetAccount(QStringLiteral("taro"), QStringLiteral("secret"));
    ASSERT_EQ(mail->NMailSmtpSendMail(servers->smtp(), QStringLiteral("hanako@example.jp"), {}, {},
                                      QStringLiteral("taro@example.jp"), QStringLiteral("名前"),
                                      QStringLiteral("本文"), {}, paths, 0),
              0)
        << qPrintable(mail->NMailGetMessage(0));
    ASSERT_EQ(servers->spooled().size(), before + 1);

    QProcess reader;
    reader.start(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(LUMORA_SPOOL_READER), servers->value(QStringLiteral("LUMORA_SMTP_SPOOL"))});
    ASSERT_TRUE(reader.waitForFinished(30'000));
    const QJsonObject sent =
        QJsonDocument::fromJson(reader.readAllStandardOutput()).array().at(before).toObject();
    QStringList headers;
    for (const QJsonValue& h : sent[u"headers"].toArray()) {
        headers << h.toString();
    }
    EXPECT_EQ(headers.join(u','), QStringLiteral("Date,From,To,Subject,Message-ID,MIME-Version,"
                                                 "X-Mailer,Content-Type"));
    const QJsonArray parts = sent[u"attachments"].toArray();
    ASSERT_EQ(parts.size(), 3);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QJsonObject part = parts[i].toObject();
        EXPECT_EQ(part[u"name"].toString(), names[i]);
        EXPECT_EQ(part[u"size"].toInt(), names[i].toUtf8().size());
        EXPECT_EQ(
            part[u"headers"].toArray(),
            (QJsonArray{QStringLiteral("Content-Type"), QStringLiteral("Content-Transfer-Encoding"),
                        QStringLiteral("Content-Disposition")}));
        EXPECT_EQ(part[u"type_params"].toArray(), QJsonArray{QStringLiteral("name")});
        EXPECT_EQ(part[u"disposition_params"].toArray(), QJsonArray{QStringLiteral("filename")});
    }

    // A device and a FIFO are refused with their paths; nothing is sent.
    const QString fifo = files.file(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path : {QStringLiteral("/dev/zero"), fifo}) {
        EXPECT_LT(mail->NMailSmtpSendMail(servers->smtp(), QStringLiteral("hanako@example.jp"), {},
                                          {}, QStringLiteral("taro@example.jp"),
                                          QStringLiteral("s"), QStringLiteral("b"), {}, {path}, 0),
                  0);
        EXPECT_TRUE(mail->NMailGetMessage(0).contains(path))
            << qPrintable(mail->NMailGetMessage(0));
    }
    EXPECT_EQ(servers->spooled().size(), before + 1);
}

TEST_F(MailServerTest, SendsInARowShareOneConnectionAndLogIn)
{
    ConnectionOptions options;
    options.caFile = servers->caFile();
    SmtpSession smtp(options);
    const auto server = parseServerAddress(servers->smtp(), Protocol::Smtp);
    ASSERT_TRUE(server);
    const int before = static_cast<int>(servers->spooled().size());
    for (int i = 0; i < 3; ++i) {
        const auto mail = mime::compose({QStringLiteral("taro@example.jp"),
                                         QStringLiteral("hanako@example.jp"),
                                         QStringLiteral("一斉送信 %1").arg(i),
                                         QStringLiteral("本文"),
                                         {},
                                         {},
                                         {}},
                                        nullptr);
        ASSERT_TRUE(mail);
        ASSERT_TRUE(smtp.send(*server, QStringLiteral("taro"), QStringLiteral("secret"),
                              mail->envelopeFrom, mail->recipients, mail->bytes))
            << qPrintable(smtp.error());
    }
    EXPECT_EQ(smtp.connectionsOpened(), 1);
    EXPECT_EQ(servers->spooled().size(), before + 3);
    // Another account gets a connection of its own.
    const auto mail = mime::compose({QStringLiteral("hanako@example.jp"),
                                     QStringLiteral("taro@example.jp"),
                                     QStringLiteral("s"),
                                     QStringLiteral("b"),
                                     {},
                                     {},
                                     {}},
                                    nullptr);
    ASSERT_TRUE(smtp.send(*server, {}, {}, mail->envelopeFrom, mail->recipients, mail->bytes));
    EXPECT_EQ(smtp.connectionsOpened(), 2);
}

// A receive's listener that keeps only what went wrong.
class QuietListener final : public ReceiveListener {
public:
    void checking() override {}
    void credentialsRead(const QString&, const QString&) override {}
    void credentialsMissing() override {}
    void failed(const QString& text) override { failures << text; }
    void notice(const QString& text) override { failures << text; }
    void progress(int, int, qint64, qint64) override {}
    void mailShown(const QString&, const QString&, const QString&, const QString&) override {}
    QStringList failures;
};

TEST_F(MailServerTest, RoundTripThroughSmtpDovecotAndTheReceiveCycle)
{
    TempFolder app;
    const AppPaths paths = hanakosFolder(app);
    ASSERT_FALSE(paths.appFolder().isEmpty());
    TempFolder files;
    QByteArray picture;
    for (int i = 0; i < 5000; ++i) {
        picture.append(static_cast<char>(i * 7));
    }
    files.write(QStringLiteral("写真 2026.jpg"), picture);

    auto mail = library();
    const int before = static_cast<int>(servers->spooled().size());
    ASSERT_EQ(mail->NMailSmtpSendMail(servers->smtp(), QStringLiteral("hanako@example.jp"), {}, {},
                                      QStringLiteral("山田太郎 <taro@example.jp>"),
                                      QStringLiteral("旅行の写真"),
                                      QStringLiteral("写真を送ります。\r\n髙橋さんにもよろしく。"),
                                      {}, {files.file(QStringLiteral("写真 2026.jpg"))}, 0),
              0);
    servers->deliver(QStringLiteral("hanako"), servers->spooled().at(before));

    QuietListener listener;
    ReceiveSettings settings;
    settings.pop3Server = servers->pop3s();
    const ReceiveOutcome outcome = runReceiveCycle(*mail, paths, settings, listener);
    EXPECT_TRUE(listener.failures.isEmpty()) << qPrintable(listener.failures.join(u'\n'));
    EXPECT_EQ(outcome.count, 1);
    EXPECT_EQ(servers->waiting(QStringLiteral("hanako")), 0);

    const QByteArray bytes = app.read(QStringLiteral("★MailData/krddata2.data"));
    ASSERT_EQ(bytes.size(), MailRecord::kLength);
    const MailRecord record = MailRecord::fromBytes(bytes);
    EXPECT_EQ(record.subject().trimmed(), QStringLiteral("旅行の写真"));
    EXPECT_EQ(record.from().trimmed(), QStringLiteral("山田太郎 <taro@example.jp>"));
    EXPECT_TRUE(
        record.body().startsWith(QStringLiteral("写真を送ります。\r\n髙橋さんにもよろしく。")));
    EXPECT_TRUE(record.body().trimmed().endsWith(kAttachmentNotice));
    EXPECT_EQ(app.read(QStringLiteral("添付フォルダ/写真 2026.jpg")), picture);
}

// A long mail, one full of characters CP932 lacks, and an HTML mail with its
// picture: the records hold what they can, the originals everything.
TEST_F(MailServerTest, EveryReceivedMailKeepsItsOriginalByteForByte)
{
    TempFolder app;
    const AppPaths paths = hanakosFolder(app);
    ASSERT_FALSE(paths.appFolder().isEmpty());
    TempFolder samples;
    ASSERT_TRUE(lumora::test::mailSamples({QStringLiteral("samples"), samples.path()}));
    QList<QByteArray> sent;
    for (const QString& name :
         {QStringLiteral("01.eml"), QStringLiteral("02.eml"), QStringLiteral("03.eml")}) {
        sent.append(samples.read(name));
        servers->deliver(QStringLiteral("hanako"), sent.last());
    }

    QuietListener listener;
    auto mail = library();
    ReceiveSettings settings;
    settings.pop3Server = servers->pop3s();
    const ReceiveOutcome outcome = runReceiveCycle(*mail, paths, settings, listener);
    EXPECT_TRUE(listener.failures.isEmpty()) << qPrintable(listener.failures.join(u'\n'));
    ASSERT_EQ(outcome.count, 3);

    const QByteArray bytes = app.read(QStringLiteral("★MailData/krddata2.data"));
    ASSERT_EQ(bytes.size(), 3 * MailRecord::kLength);
    QList<MailRecord> records;
    for (int i = 0; i < 3; ++i) {
        records.append(
            MailRecord::fromBytes(bytes.mid(i * MailRecord::kLength, MailRecord::kLength)));
    }
    // The long body is cut to its field; the other mail's characters are
    // stored in a readable form, none as '?'.
    EXPECT_EQ(text::encodeCp932(records[0].body()).size(), MailRecord::kBody.width);
    EXPECT_EQ(records[1].subject().trimmed(), QStringLiteral("Cafe 〓 〓 Muller"));
    EXPECT_EQ(records[1].from().trimmed(), QStringLiteral("Jose Muller <jose@example.com>"));
    EXPECT_TRUE(records[1].body().startsWith(
        QStringLiteral("Grusse aus Koln, naive cafe - 絵文字 〓〓 〓")));
    EXPECT_FALSE(records[1].bytes().left(MailRecord::kLineEnd.offset).contains('?'));
    EXPECT_EQ(records[2].body().trimmed().section(QStringLiteral("\r\n"), 0, 0),
              QStringLiteral("テキスト版のお知らせです。"));

    // The originals as the server sent them, found from their records.
    const Originals originals(paths.originalsFolder());
    EXPECT_EQ(originals.names().size(), 3);
    EXPECT_FALSE(originals.interrupted());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(originals.read(i + 1, records[i].bytes()), sent[i]) << i;
    }
    const QString longText = viewer::originalText(viewer::readOriginal(sent[0]));
    EXPECT_TRUE(longText.contains(QStringLiteral("これは長いメールの 01699 行目です。")));
    EXPECT_TRUE(longText.endsWith(QStringLiteral("おしまい\n")));
    const QString emojiText =
        viewer::originalText(viewer::readOriginal(*originals.read(2, records[1].bytes())));
    EXPECT_TRUE(emojiText.contains(QStringLiteral("Subject: Café ☕ 🎉 Müller")));
    EXPECT_TRUE(emojiText.contains(
        QStringLiteral("Grüße aus Köln, naïve café – 絵文字 😀👍🏽 ✈")));

    // The attachment's name keeps its accents and emoji; the HTML version's
    // picture is in the folder too.
    EXPECT_EQ(app.read(QStringLiteral("添付フォルダ/résumé 🎉.txt")), QByteArray("CV\n"));
    const QStringList pictures =
        QDir(paths.attachmentFolder()).entryList({QStringLiteral("*.png")}, QDir::Files);
    ASSERT_EQ(pictures.size(), 1);
    EXPECT_TRUE(app.read(QStringLiteral("添付フォルダ/") + pictures[0]).startsWith("\x89PNG"));
}

// Mail whose original cannot be written (here a folder stands where the
// originals' file should go) is neither stored nor deleted on the server,
// and the receive says why; the next receive takes it.
TEST_F(MailServerTest, AMailWhoseOriginalCannotBeWrittenStaysOnTheServer)
{
    TempFolder app;
    const AppPaths paths = hanakosFolder(app);
    ASSERT_FALSE(paths.appFolder().isEmpty());
    const QByteArray first = "From: a@example.jp\r\nSubject: first\r\n\r\none\r\n";
    const QByteArray second = "From: a@example.jp\r\nSubject: second\r\n\r\ntwo\r\n";
    servers->deliver(QStringLiteral("hanako"), first);
    servers->deliver(QStringLiteral("hanako"), second);
    const QString pack = QDir(paths.originalsFolder()).filePath(QStringLiteral("pack-000001"));
    ASSERT_TRUE(QDir().mkpath(pack));
    QuietListener listener;
    auto mail = library();
    ReceiveSettings settings;
    settings.pop3Server = servers->pop3s();
    const ReceiveOutcome outcome = runReceiveCycle(*mail, paths, settings, listener);
    EXPECT_TRUE(outcome.failed);
    ASSERT_EQ(listener.failures.size(), 1);
    EXPECT_TRUE(listener.failures[0].contains(QStringLiteral("メールはサーバーに残してあります")));
    EXPECT_TRUE(listener.failures[0].contains(paths.originalsFolder()))
        << qPrintable(listener.failures[0]);
    EXPECT_EQ(servers->waiting(QStringLiteral("hanako")), 2);
    EXPECT_TRUE(app.read(QStringLiteral("★MailData/krddata2.data")).isEmpty());

    // Mended, the next receive takes both and removes them.
    ASSERT_TRUE(QDir(pack).removeRecursively());
    QuietListener again;
    const ReceiveOutcome mended = runReceiveCycle(*mail, paths, settings, again);
    EXPECT_FALSE(mended.failed) << qPrintable(again.failures.join(u'\n'));
    EXPECT_EQ(mended.count, 2);
    EXPECT_EQ(servers->waiting(QStringLiteral("hanako")), 0);
    EXPECT_EQ(app.read(QStringLiteral("★MailData/krddata2.data")).size(), 2 * MailRecord::kLength);
}

// A scripted server (starttls_injector.py) that answers the request for TLS
// and, in the same write, a whole forged dialogue, then serves an honest one
// inside TLS. Its port, and the commands it saw inside TLS.
struct Injector : lumora::test::ScriptServer {
    explicit Injector(const char* protocol)
    {
        const QString tls = QFileInfo(servers->caFile()).path();
        start(QStringLiteral(LUMORA_STARTTLS_INJECTOR),
              {QString::fromLatin1(protocol), tls + QStringLiteral("/server.crt"),
               tls + QStringLiteral("/server.key"), log()});
    }
};

// Bytes that arrive after the server's yes to STLS and before the handshake
// are not the server's: they are never read as replies inside TLS, so no
// forged mail is stored, no real one marked and deleted. Refused for POP3 by
// our own client, and for SMTP by the one the send uses.
TEST_F(MailServerTest, NothingSentBeforeTheTlsHandshakeIsReadAfterIt)
{
    {
        Injector pop3("pop3");
        ASSERT_FALSE(pop3.port.isEmpty());
        auto mail = library();
        const int h = mail->NMailPop3Connect(QStringLiteral("127.0.0.1:") + pop3.port);
        ASSERT_GT(h, 0);
        EXPECT_LT(mail->NMailPop3Authenticate(h, QStringLiteral("taro"), QStringLiteral("x"), 0),
                  0);
        EXPECT_TRUE(mail->NMailGetMessage(0).contains(QStringLiteral("暗号化の始まる前")))
            << qPrintable(mail->NMailGetMessage(0));
        EXPECT_TRUE(mail->NMailPop3GetMailUid(h, 1).isEmpty());
        mail->NMailPop3Close(h);
        // Not a word inside TLS: no password went out, no DELE.
        EXPECT_EQ(pop3.commands(), QByteArray());
    }
    {
        Injector smtp("smtp");
        ASSERT_FALSE(smtp.port.isEmpty());
        auto mail = library();
        mail->NMailSetAccount(QStringLiteral("taro"), QStringLiteral("secret"));
        EXPECT_LT(mail->NMailSmtpSendMail(QStringLiteral("127.0.0.1:") + smtp.port,
                                          QStringLiteral("hanako@example.jp"), {}, {},
                                          QStringLiteral("taro@example.jp"), QStringLiteral("s"),
                                          QStringLiteral("b"), {}, {}, 0),
                  0);
        EXPECT_FALSE(smtp.commands().contains("DATA")) << smtp.commands().constData();
        EXPECT_FALSE(smtp.commands().contains("AUTH")) << smtp.commands().constData();
    }
}

// A server that offered STLS once and leaves it out later (someone on the
// path stripped it from CAPA): the log-in is refused before the password
// goes out, with a message that says why. "pop3-plain://" is the user's own
// choice of plain text.
TEST_F(MailServerTest, AServerThatOfferedTlsOnceIsNotLoggedIntoWithoutIt)
{
    Injector strip("pop3-strip");
    ASSERT_FALSE(strip.port.isEmpty());
    TempFolder folder;
    MailLibraryOptions options;
    options.caFile = servers->caFile();
    options.tlsMemoryFile = folder.file(QStringLiteral("tls-servers.txt"));
    auto mail = createMailLibrary(options);
    mail->NMailInitializeWinSock();
    const QString server = QStringLiteral("127.0.0.1:") + strip.port;
    const auto logIn = [&](const QString& name) {
        const int h = mail->NMailPop3Connect(name);
        const int n = h > 0 ? mail->NMailPop3Authenticate(h, QStringLiteral("taro"),
                                                          QStringLiteral("himitsu"), 0)
                            : -1;
        if (h > 0) {
            mail->NMailPop3Close(h);
        }
        return n;
    };
    ASSERT_EQ(logIn(server), 1) << qPrintable(mail->NMailGetMessage(0)); // over TLS
    EXPECT_TRUE(QFileInfo(options.tlsMemoryFile).permissions() ==
                (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                 QFileDevice::WriteUser));
    EXPECT_LT(logIn(server), 0);
    EXPECT_TRUE(mail->NMailGetMessage(0).contains(QStringLiteral("暗号化が取り除かれた")))
        << qPrintable(mail->NMailGetMessage(0));
    EXPECT_EQ(strip.commands().count("PASS"), 1); // only the one inside TLS
    // Another program's memory, or none: the same server in plain text is
    // the user's choice, and so is the explicit plain URL.
    EXPECT_EQ(logIn(QStringLiteral("pop3-plain://127.0.0.1:") + strip.port), 1);
    EXPECT_EQ(strip.commands().count("PASS"), 2);
}

// Peak memory of this process, in MB.
long peakMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ')[0].toLong() / 1024;
        }
    }
    return 0;
}

// A server that sends without end: the client gives up with a message
// long before its memory grows, and the session is over.
TEST(MisbehavingServer, EndlessRepliesEndTheSessionWithAMessage)
{
    for (const char* mode : {"long-greeting", "endless-list", "endless-retr", "long-line"}) {
        SCOPED_TRACE(mode);
        QProcess server;
        server.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(LUMORA_BAD_POP3), QString::fromLatin1(mode)});
        ASSERT_TRUE(server.waitForReadyRead(10000));
        const QByteArray port = server.readLine().trimmed();
        ASSERT_FALSE(port.isEmpty());

        const long before = peakMegabytes();
        auto mail = createMailLibrary({});
        mail->NMailInitializeWinSock();
        const int h =
            mail->NMailPop3Connect(QStringLiteral("127.0.0.1:") + QString::fromLatin1(port));
        int outcome = h;
        if (h > 0) {
            outcome =
                mail->NMailPop3Authenticate(h, QStringLiteral("taro"), QStringLiteral("x"), 0);
            if (outcome > 0) {
                MailFields fields;
                QString body;
                outcome = mail->NMailPop3GetMail(h, 1, fields, body, 0, 0);
            }
        }
        EXPECT_LT(outcome, 0);
        EXPECT_TRUE(mail->NMailGetMessage(0).contains(QStringLiteral("長すぎる")))
            << qPrintable(mail->NMailGetMessage(0));
        if (h > 0) {
            mail->NMailPop3Close(h);
        }
        mail.reset();
        EXPECT_LT(peakMegabytes() - before, 200);
        server.kill();
        server.waitForFinished(5000);
    }
}

TEST(MisbehavingServer, AServerThatStallsIsGivenUp)
{
    QProcess server;
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(LUMORA_BAD_POP3), QStringLiteral("stall")});
    ASSERT_TRUE(server.waitForReadyRead(10000));
    const QByteArray port = server.readLine().trimmed();
    MailLibraryOptions options;
    options.stallSeconds = 2;
    auto mail = createMailLibrary(options);
    mail->NMailInitializeWinSock();
    const int h = mail->NMailPop3Connect(QStringLiteral("127.0.0.1:") + QString::fromLatin1(port));
    ASSERT_GT(h, 0);
    ASSERT_GT(mail->NMailPop3Authenticate(h, QStringLiteral("taro"), QStringLiteral("x"), 0), 0);
    QElapsedTimer timer;
    timer.start();
    MailFields fields;
    QString body;
    EXPECT_LT(mail->NMailPop3GetMail(h, 1, fields, body, 0, 0), 0);
    EXPECT_LT(timer.elapsed(), 10'000);
    EXPECT_GE(timer.elapsed(), 1'500);
    EXPECT_FALSE(mail->NMailGetMessage(0).isEmpty());
    mail->NMailPop3Close(h);
    server.kill();
    server.waitForFinished(5000);
}

// The program ends while a server sends nothing: breaking the connections
// ends the retrieval at once, not at the stall limit.
TEST(MisbehavingServer, AStalledRetrievalEndsWhenTheConnectionsAreBroken)
{
    QProcess server;
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(LUMORA_BAD_POP3), QStringLiteral("stall")});
    ASSERT_TRUE(server.waitForReadyRead(10000));
    const QByteArray port = server.readLine().trimmed();
    auto mail = createMailLibrary({});
    mail->NMailInitializeWinSock();
    const int h = mail->NMailPop3Connect(QStringLiteral("127.0.0.1:") + QString::fromLatin1(port));
    ASSERT_GT(h, 0);
    ASSERT_GT(mail->NMailPop3Authenticate(h, QStringLiteral("taro"), QStringLiteral("x"), 0), 0);
    QElapsedTimer timer;
    timer.start();
    std::thread breaker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        mail->NMailPop3AbortAll();
    });
    MailFields fields;
    QString body;
    EXPECT_LT(mail->NMailPop3GetMail(h, 1, fields, body, 0, 0), 0);
    breaker.join();
    EXPECT_LT(timer.elapsed(), 3'000);
    mail->NMailPop3Close(h);
    server.kill();
    server.waitForFinished(5000);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
