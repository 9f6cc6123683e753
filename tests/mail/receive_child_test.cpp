// The receive in a process of its own, against the harness's Dovecot: this
// test program is also the receiving process, started by the runner as the
// program starts itself.

#include "mail/mail_library.h"
#include "mail/receive_child.h"
#include "mail/receive_runner.h"
#include "mail/server_certificate.h"
#include "search/mail_search.h"
#include "settings/account_settings.h"
#include "store/mail_store.h"
#include "store/record_buffer.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "support/mail_servers.h"
#include "support/temp_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include <unistd.h>

using namespace lumora;
using lumora::test::MailServers;
using lumora::test::TempFolder;

namespace {

MailServers* servers = nullptr;

QByteArray mail(const QString& subject, const QByteArray& body = "本文です。\r\n")
{
    return "From: taro@example.jp\r\nTo: hanako@example.jp\r\nSubject: " + subject.toUtf8() +
           "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n"
           "Content-Type: text/plain; charset=UTF-8\r\n\r\n" +
           body;
}

// Dovecot numbers the mails of one delivery in the order it finds their
// files, so the tests compare what came in one cycle in sorted order.
QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// Mails large enough that a receive of them lasts long enough to be
// interrupted half way.
constexpr int kLargeMails = 40;
QByteArray largeBody()
{
    return QByteArray("とても長い本文です。\r\n").repeated(6000);
}

// The processes whose parent is pid, from /proc.
QList<int> childrenOf(int pid)
{
    QList<int> children;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/") + name + QStringLiteral("/stat"));
        if (name.toInt() <= 0 || !stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        // "pid (command) state ppid ...": the command may hold spaces.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> after = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (after.size() > 1 && after[1].toInt() == pid) {
            children.append(name.toInt());
        }
    }
    return children;
}

QStringList storedSubjects(const AppPaths& paths)
{
    QStringList subjects;
    const RecordFile file(paths.receivedFile(), MailRecord::kLayout);
    for (qint64 n = 1; n <= file.wholeCount(); ++n) {
        subjects.append(
            text::trimSpaces(MailRecord::fromBytes(file.read(n).valueOr({})).subject()));
    }
    return subjects;
}

class ReceiveChildTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        servers = new MailServers;
        ASSERT_TRUE(servers->started()) << "the test mail servers did not start";
        // The receiving process trusts the harness's CA, as the tests' own
        // library does.
        qputenv("LUMORA_TEST_CAFILE", servers->caFile().toUtf8());
    }
    static void TearDownTestSuite()
    {
        delete servers;
        servers = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(servers && servers->started());
        ASSERT_TRUE(paths_.createFolders().ok());
        ASSERT_TRUE(account::writeCredentials(paths_.accountFile(),
                                              {QStringLiteral("hanako"), QStringLiteral("himitsu")},
                                              true)
                        .ok());
        MailLibraryOptions options;
        options.caFile = servers->caFile();
        library_ = createMailLibrary(options);
        library_->NMailInitializeWinSock();
    }
    void TearDown() override
    {
        // What a test left on the server goes.
        const int h = library_->NMailPop3Connect(servers->pop3());
        const int n = library_->NMailPop3Authenticate(h, QStringLiteral("hanako"),
                                                      QStringLiteral("himitsu"), 0);
        for (int i = 1; i <= n; ++i) {
            library_->NMailPop3DeleteMail(h, i);
        }
        library_->NMailPop3Close(h);
    }

    std::unique_ptr<ReceiveRunner> runner()
    {
        return std::make_unique<ReceiveRunner>(*library_, paths_,
                                               QCoreApplication::applicationFilePath());
    }
    ReceiveSettings settings(MailRecordBuffer* buffer = nullptr) const
    {
        ReceiveSettings s;
        s.pop3Server = servers->pop3();
        s.buffer = buffer;
        return s;
    }
    // Puts kLargeMails mails "subject N" on the server; their subjects.
    static QStringList deliverLarge(const QString& subject)
    {
        QStringList subjects;
        for (int i = 1; i <= kLargeMails; ++i) {
            subjects << subject + QStringLiteral(" %1").arg(i);
            servers->deliver(QStringLiteral("hanako"), mail(subjects.last(), largeBody()));
        }
        return subjects;
    }
    // Runs a cycle to its end; the count it reported.
    int receive(ReceiveRunner& r)
    {
        QSignalSpy finished(&r, &ReceiveRunner::finished);
        EXPECT_TRUE(r.start(settings()));
        EXPECT_TRUE(finished.wait(60000));
        return finished.isEmpty() ? -1000 : finished.first().first().toInt();
    }

    TempFolder app_;
    AppPaths paths_ = AppPaths::at(app_.path());
    std::unique_ptr<MailLibrary> library_;
};

TEST_F(ReceiveChildTest, StoresEveryMailAndTellsTheWindowWhatTheCycleTold)
{
    for (int i = 1; i <= 5; ++i) {
        servers->deliver(QStringLiteral("hanako"),
                         mail(QStringLiteral("子の受信 %1").arg(i),
                              i == 3 ? "zebrafinch を探す\r\n" : "本文です。\r\n"));
    }
    const auto r = runner();
    MailRecordBuffer buffer;
    QStringList steps;
    QStringList shown;
    QObject::connect(r.get(), &ReceiveRunner::checking,
                     [&] { steps << QStringLiteral("checking"); });
    QObject::connect(r.get(), &ReceiveRunner::credentialsRead,
                     [&](const QString& id, const QString& password) {
                         steps << QStringLiteral("credentials ") + id + u' ' + password;
                     });
    QObject::connect(r.get(), &ReceiveRunner::progress, [&](int index, int count, qint64, qint64) {
        steps << QStringLiteral("progress %1/%2").arg(index).arg(count);
    });
    QObject::connect(r.get(), &ReceiveRunner::mailShown,
                     [&](const QString& subject, const QString&, const QString&, const QString&) {
                         shown << subject;
                     });
    QSignalSpy finished(r.get(), &ReceiveRunner::finished);
    ASSERT_TRUE(r->start(settings(&buffer)));
    EXPECT_FALSE(r->start(settings())) << "one cycle at a time";
    ASSERT_TRUE(finished.wait(60000));

    EXPECT_EQ(finished.first().value(0).toInt(), 5);
    EXPECT_FALSE(finished.first().value(1).toBool());
    EXPECT_FALSE(r->running());
    EXPECT_EQ(steps.mid(0, 3),
              (QStringList{QStringLiteral("checking"), QStringLiteral("credentials hanako himitsu"),
                           QStringLiteral("progress 1/5")}));
    EXPECT_EQ(steps.last(), QStringLiteral("progress 5/5"));
    // The fields may skip mails that came in quick succession, never the last.
    ASSERT_FALSE(shown.isEmpty());
    const QStringList stored = storedSubjects(paths_);
    ASSERT_EQ(stored.size(), 5);
    EXPECT_EQ(shown.last(), stored.last());
    EXPECT_EQ(text::trimSpaces(buffer.get().subject()), stored.last());
    EXPECT_EQ(sorted(stored),
              (QStringList{QStringLiteral("子の受信 1"), QStringLiteral("子の受信 2"),
                           QStringLiteral("子の受信 3"), QStringLiteral("子の受信 4"),
                           QStringLiteral("子の受信 5")}));
    EXPECT_EQ(servers->waiting(QStringLiteral("hanako")), 0);
    // The process brought the index up to date before it ended.
    const Result<QList<int>> found = search::MailSearch(paths_).find(QStringLiteral("zebrafinch"));
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(found.value(), QList<int>{int(stored.indexOf(QStringLiteral("子の受信 3")))});
}

TEST_F(ReceiveChildTest, ADeletionInTheProgramGoesBetweenTwoMailsAndTheRunGoesOnInTheNewFile)
{
    servers->deliver(QStringLiteral("hanako"), mail(QStringLiteral("古い 1")));
    servers->deliver(QStringLiteral("hanako"), mail(QStringLiteral("古い 2")));
    const auto r = runner();
    ASSERT_EQ(receive(*r), 2);
    const QStringList expected = deliverLarge(QStringLiteral("新しい"));

    // Once the receiving process has written into the file, the program
    // deletes the first mail, which replaces the file: the process must
    // go on in the new one.
    const RecordFile file(paths_.receivedFile(), MailRecord::kLayout);
    QSignalSpy finished(r.get(), &ReceiveRunner::finished);
    ASSERT_TRUE(r->start(settings()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return file.wholeCount() > 2; }, 30000));
    const MailStore store(paths_);
    qint64 writtenBefore = -1;
    const Status deleted = store.remove({{1, file.read(1).valueOr({})}}, [&](CompactStep step) {
        if (step == CompactStep::Marked) {
            writtenBefore = file.wholeCount() - 2;
        }
        return true;
    });
    ASSERT_TRUE(finished.wait(60000));

    EXPECT_TRUE(deleted.ok()) << qPrintable(deleted.detail());
    EXPECT_GE(writtenBefore, 1);
    EXPECT_LT(writtenBefore, kLargeMails) << "the receive ended before the deletion";
    EXPECT_EQ(finished.first().value(0).toInt(), kLargeMails);
    const QStringList stored = storedSubjects(paths_);
    ASSERT_EQ(stored.size(), kLargeMails + 1);
    EXPECT_EQ(stored.first(), QStringLiteral("古い 2"));
    EXPECT_EQ(sorted(stored.mid(1)), sorted(expected));
    // Every record still finds its own original.
    for (qint64 n = 1; n <= file.wholeCount(); ++n) {
        const QByteArray record = file.read(n).valueOr({});
        const std::optional<QByteArray> original = store.originals().read(n, record);
        ASSERT_TRUE(original) << n;
        EXPECT_TRUE(
            original->contains(text::trimSpaces(MailRecord::fromBytes(record).subject()).toUtf8()))
            << n;
    }
}

TEST_F(ReceiveChildTest, AReceiveStoppedOrKilledLosesNothingAndStoresNothingTwice)
{
    const QStringList expected = deliverLarge(QStringLiteral("大きい"));
    const RecordFile file(paths_.receivedFile(), MailRecord::kLayout);
    qint64 stopped = 0;
    {
        // Asked to stop: it ends after the mail in hand, and the server
        // deletes what it stored.
        const auto r = runner();
        ASSERT_TRUE(r->start(settings()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return file.wholeCount() >= 1; }, 30000));
        r->stopAndWait();
        EXPECT_FALSE(r->running());
        stopped = file.wholeCount();
        EXPECT_LT(stopped, kLargeMails);
        EXPECT_EQ(servers->waiting(QStringLiteral("hanako")), kLargeMails - stopped);
    }
    {
        // Killed: what it stored stays stored, and the server deletes nothing.
        const auto r = runner();
        ASSERT_TRUE(r->start(settings()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return file.wholeCount() > stopped; }, 30000));
        r->endWithin(0);
        EXPECT_FALSE(r->running());
        EXPECT_LT(file.wholeCount(), kLargeMails);
        EXPECT_EQ(servers->waiting(QStringLiteral("hanako")), kLargeMails - stopped);
    }
    // The turn the process held is the program's again.
    EXPECT_TRUE(MailStore(paths_).owner().tryTake(Writer::Deletion).has_value());

    const auto r = runner();
    EXPECT_GE(receive(*r), 0);
    EXPECT_EQ(sorted(storedSubjects(paths_)), sorted(expected));
    EXPECT_EQ(servers->waiting(QStringLiteral("hanako")), 0);
}

TEST_F(ReceiveChildTest, AReceivingProcessThatDiesIsAFailureWithTheMailsItStored)
{
    const QStringList expected = deliverLarge(QStringLiteral("途中"));
    const RecordFile file(paths_.receivedFile(), MailRecord::kLayout);
    const auto r = runner();
    QSignalSpy failed(r.get(), &ReceiveRunner::failed);
    QSignalSpy finished(r.get(), &ReceiveRunner::finished);
    ASSERT_TRUE(r->start(settings()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return file.wholeCount() >= 1; }, 30000));
    const QList<int> children = childrenOf(::getpid());
    ASSERT_EQ(children.size(), 1) << "the receiving process is this test's only child";
    ASSERT_EQ(::kill(children.first(), SIGKILL), 0);
    ASSERT_TRUE(finished.wait(30000));

    EXPECT_TRUE(finished.first().value(1).toBool());
    EXPECT_EQ(finished.first().value(0).toLongLong(), file.wholeCount());
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed.first().first().toString(),
              QStringLiteral("メールの受信が途中で止まりました。"
                             "受信できなかったメールはサーバーに残してあります。"));
    EXPECT_FALSE(r->running());
    EXPECT_EQ(servers->waiting(QStringLiteral("hanako")), kLargeMails);
    // The next receive stores the rest, and nothing twice.
    EXPECT_EQ(receive(*r), kLargeMails - file.wholeCount());
    EXPECT_EQ(sorted(storedSubjects(paths_)), sorted(expected));
}

TEST_F(ReceiveChildTest, AWrongPasswordIsReportedAsTheLibrarysFailure)
{
    const auto r = runner();
    QSignalSpy failed(r.get(), &ReceiveRunner::failed);
    QSignalSpy finished(r.get(), &ReceiveRunner::finished);
    ReceiveSettings s = settings();
    s.credentials = account::Credentials{QStringLiteral("hanako"), QStringLiteral("wrong")};
    ASSERT_TRUE(r->start(s));
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_EQ(finished.first().value(0).toInt(), MailLibrary::kLoginRefused);
    EXPECT_TRUE(finished.first().value(1).toBool());
    ASSERT_EQ(failed.size(), 1);
    EXPECT_FALSE(failed.first().first().toString().isEmpty());
}

TEST_F(ReceiveChildTest, AnUnverifiedCertificateReachesTheWindowWithWhatTheUserDecidesOn)
{
    // This time the process trusts a CA that did not sign the server's
    // certificate.
    qputenv("LUMORA_TEST_CAFILE", servers->otherCaFile().toUtf8());
    const auto r = runner();
    QList<ServerCertificate> refused;
    QString text;
    QObject::connect(r.get(), &ReceiveRunner::certificateRefused,
                     [&](const ServerCertificate& certificate, const QString& why) {
                         refused.append(certificate);
                         text = why;
                     });
    QSignalSpy finished(r.get(), &ReceiveRunner::finished);
    ReceiveSettings s = settings();
    s.pop3Server = servers->pop3s();
    ASSERT_TRUE(r->start(s));
    const bool ended = finished.wait(60000);
    qputenv("LUMORA_TEST_CAFILE", servers->caFile().toUtf8());
    ASSERT_TRUE(ended);

    EXPECT_TRUE(finished.first().value(1).toBool());
    ASSERT_EQ(refused.size(), 1);
    const ServerCertificate& certificate = refused.first();
    EXPECT_EQ(certificate.host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(certificate.port, servers->value(QStringLiteral("LUMORA_POP3S_PORT")).toInt());
    EXPECT_EQ(certificate.fingerprint.size(), 32 * 3 - 1) << qPrintable(certificate.fingerprint);
    EXPECT_FALSE(certificate.subject.isEmpty());
    EXPECT_FALSE(certificate.reason.isEmpty());
    EXPECT_TRUE(certificate.notBefore.isValid() && certificate.notBefore < certificate.notAfter);
    EXPECT_FALSE(certificate.changed());
    EXPECT_FALSE(text.isEmpty());
}

TEST_F(ReceiveChildTest, AProgramThatCannotBeStartedIsAFailureTheWindowHears)
{
    ReceiveRunner r(*library_, paths_, app_.file(QStringLiteral("no-such-program")));
    QSignalSpy failed(&r, &ReceiveRunner::failed);
    QSignalSpy finished(&r, &ReceiveRunner::finished);
    ASSERT_TRUE(r.start(settings()));
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_TRUE(finished.first().value(1).toBool());
    ASSERT_EQ(failed.size(), 1);
    EXPECT_TRUE(failed.first().first().toString().startsWith(
        QStringLiteral("メールの受信を始められませんでした。")));
    EXPECT_FALSE(r.running());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], kReceiveChildArgument) == 0) {
        return receiveChildMain(argc, argv, qEnvironmentVariable("LUMORA_TEST_CAFILE"));
    }
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
