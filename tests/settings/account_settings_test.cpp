#include "settings/account_settings.h"
#include "store/text_codec.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace lumora;
using lumora::test::TempFolder;

namespace {

AccountSettings readServers(TempFolder& dir, const QByteArray& contents)
{
    dir.write(QStringLiteral("kurodo.ini"), contents);
    AccountSettings s;
    account::readServerFile(dir.file(QStringLiteral("kurodo.ini")), s);
    return s;
}

} // namespace

TEST(ServerFile, OnlyAPop3LineFillsOnlyThePop3Server)
{
    TempFolder dir;
    const AccountSettings s = readServers(dir, "POP3=pop.example.jp\r\n");
    EXPECT_EQ(s.Pop3Server, QStringLiteral("pop.example.jp"));
    EXPECT_TRUE(s.SmtpServer.isEmpty());
    EXPECT_TRUE(s.MailAddress.isEmpty());
    EXPECT_EQ(s.ApopFlag, 0);
}

TEST(ServerFile, PrefixesMatchWithCaseAndValuesAreCutAt100Characters)
{
    TempFolder dir;
    const QString longName = QString(150, QLatin1Char('s'));
    const AccountSettings s =
        readServers(dir, "smtp=lower.example.jp\r\nSMTP=" + longName.toLatin1() + "\r\n\r\nMAIL=" +
                             text::encodeCp932(QStringLiteral("太郎 <taro@example.jp>")) +
                             "\r\nMAIL=\r\n" + "MAIL=later@example.jp\nPOP3=\r\n");
    EXPECT_EQ(s.SmtpServer, longName.left(100));
    EXPECT_EQ(s.MailAddress, QStringLiteral("later@example.jp")); // the last line wins
    EXPECT_TRUE(s.Pop3Server.isEmpty());

    TempFolder dir2;
    EXPECT_EQ(readServers(dir2, "SMTP=\r\n").SmtpServer, QString());
    // Values count in characters, not bytes.
    const QString japanese = QString(120, QChar(u'鯖'));
    EXPECT_EQ(readServers(dir2, "SMTP=" + text::encodeCp932(japanese)).SmtpServer,
              japanese.left(100));
}

TEST(ServerFile, ApopIsTheLeadingNumberRoundedToA16BitInteger)
{
    const struct {
        const char* value;
        int flag;
    } cases[] = {{"1", 1},   {"0", 0},   {"abc", 0}, {"", 0},          {" 1", 1},
                 {"2.5", 2}, {"1.5", 2}, {"-1", -1}, {"99999", 32767}, {"&H1", 1}};
    for (const auto& c : cases) {
        TempFolder dir;
        EXPECT_EQ(readServers(dir, QByteArray("APOP=") + c.value + "\r\n").ApopFlag, c.flag)
            << c.value;
    }
}

TEST(ServerFile, WritesTheFourLinesInOrderAndReadsThemBack)
{
    TempFolder dir;
    AccountSettings s;
    s.SmtpServer = QStringLiteral("smtp.example.jp:587");
    s.Pop3Server = QStringLiteral("pop3s://pop.example.jp");
    s.MailAddress = QStringLiteral("花子 <hanako@example.jp>");
    s.ApopFlag = 1;
    const QString path = dir.file(QStringLiteral("kurodo.ini"));
    ASSERT_TRUE(account::writeServerFile(path, s).ok());
    EXPECT_EQ(dir.read(QStringLiteral("kurodo.ini")),
              "SMTP=smtp.example.jp:587\r\nPOP3=pop3s://pop.example.jp\r\nMAIL=" +
                  text::encodeCp932(s.MailAddress) + "\r\nAPOP=1\r\n");
    AccountSettings back;
    account::readServerFile(path, back);
    EXPECT_EQ(back.SmtpServer, s.SmtpServer);
    EXPECT_EQ(back.Pop3Server, s.Pop3Server);
    EXPECT_EQ(back.MailAddress, s.MailAddress);
    EXPECT_EQ(back.ApopFlag, 1);
}

TEST(AccountFile, MissingFileReadsAsEmptyValues)
{
    TempFolder dir;
    const auto c = account::readCredentials(dir.file(QStringLiteral("iniIdPass.ini")));
    EXPECT_TRUE(c.id.isEmpty());
    EXPECT_TRUE(c.password.isEmpty());
}

TEST(AccountFile, SavingUncheckedKeepsTheEarlierIdAndRemovesThePassword)
{
    TempFolder dir;
    const QString path = dir.file(QStringLiteral("iniIdPass.ini"));
    ASSERT_TRUE(account::writeCredentials(
                    path, {QStringLiteral("taro"), QStringLiteral("ぱす〜ワード")}, true)
                    .ok());
    ASSERT_TRUE(
        account::writeCredentials(path, {QStringLiteral("other"), QStringLiteral("x")}, false)
            .ok());
    const auto c = account::readCredentials(path);
    EXPECT_EQ(c.id, QStringLiteral("taro"));
    EXPECT_TRUE(c.password.isEmpty());
    EXPECT_EQ(dir.read(QStringLiteral("iniIdPass.ini")),
              QByteArray("[EXEINI]\r\nNAME=taro\r\nNAME3=0\r\n"));
    EXPECT_FALSE(dir.read(QStringLiteral("iniIdPass.ini")).contains("other"));

    ASSERT_TRUE(
        account::writeCredentials(path, {QStringLiteral("jiro"), QStringLiteral("pw")}, true).ok());
    // The password comes back after the key that stayed.
    EXPECT_EQ(dir.read(QStringLiteral("iniIdPass.ini")),
              QByteArray("[EXEINI]\r\nNAME=jiro\r\nNAME3=1\r\nNAME2=pw\r\n"));
}

TEST(AccountFile, APasswordTheFileCannotHoldIsRefusedNotMangled)
{
    TempFolder dir;
    const QString path = dir.file(QStringLiteral("iniIdPass.ini"));
    ASSERT_TRUE(
        account::writeCredentials(path, {QStringLiteral("id"), QStringLiteral("old")}, true).ok());
    const Status status =
        account::writeCredentials(path, {QStringLiteral("id"), QStringLiteral("pässwörd")}, true);
    EXPECT_EQ(status.error(), StoreError::BadArgument);
    EXPECT_EQ(account::readCredentials(path).password, QStringLiteral("old"));

    AccountSettings s;
    s.MailAddress = QStringLiteral("\U0001F600@example.jp");
    EXPECT_EQ(account::writeServerFile(dir.file(QStringLiteral("kurodo.ini")), s).error(),
              StoreError::BadArgument);
    EXPECT_FALSE(dir.exists(QStringLiteral("kurodo.ini")));
}

TEST(AccountFile, A300BytePasswordIsStoredWholeButReadBackAs255)
{
    TempFolder dir;
    const QString path = dir.file(QStringLiteral("iniIdPass.ini"));
    const QString password(300, QLatin1Char('k'));
    ASSERT_TRUE(account::writeCredentials(path, {QStringLiteral("id"), password}, true).ok());
    EXPECT_TRUE(dir.read(QStringLiteral("iniIdPass.ini")).contains(password.toLatin1()));
    EXPECT_EQ(account::readCredentials(path).password, password.left(255));
}

TEST(AccountFile, OnlyItsOwnerCanReadIt)
{
    TempFolder dir;
    // Even a file that was readable by all before is tightened on the next write.
    dir.write(QStringLiteral("iniIdPass.ini"), "[EXEINI]\r\n");
    const QString path = dir.file(QStringLiteral("iniIdPass.ini"));
    ::chmod(QFile::encodeName(path).constData(), 0644);
    ASSERT_TRUE(
        account::writeCredentials(path, {QStringLiteral("id"), QStringLiteral("pw")}, true).ok());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}
