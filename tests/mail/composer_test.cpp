#include "mail/mime_composer.h"
#include "mail/mime_decoder.h"
#include "mail/server_address.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QFile>

#include <sys/stat.h>

using namespace lumora;

namespace {

mime::OutgoingMail mail(const QString& subject, const QString& body)
{
    return {QStringLiteral("山田太郎 <taro@example.jp>"),
            QStringLiteral("hanako@example.jp"),
            subject,
            body,
            {},
            QDateTime(QDate(2026, 12, 7), QTime(10, 0), Qt::OffsetFromUTC, 9 * 3600),
            {}};
}

} // namespace

TEST(Composer, PlainJapaneseGoesAsIso2022Jp)
{
    QString error;
    const auto composed = mime::compose(
        mail(QStringLiteral("ご案内の件"), QStringLiteral("パンフレット\r\n～です")), &error);
    ASSERT_TRUE(composed) << qPrintable(error);
    const QByteArray& bytes = composed->bytes;
    EXPECT_TRUE(bytes.contains("Content-Type: text/plain; charset=ISO-2022-JP"));
    EXPECT_TRUE(bytes.contains("Content-Transfer-Encoding: 7bit"));
    EXPECT_TRUE(bytes.contains("Subject: =?ISO-2022-JP?B?"));
    EXPECT_TRUE(bytes.contains("Date: Mon, 07 Dec 2026 10:00:00 +0900"));
    for (const char c : bytes) {
        ASSERT_LT(static_cast<unsigned char>(c), 0x80); // 7 bit throughout
    }
    for (const QByteArray& line : bytes.split('\n')) {
        EXPECT_LE(line.size(), 78) << line.constData();
    }
    const mime::DecodedMail back = mime::decodeMail(bytes);
    EXPECT_EQ(back.subject, QStringLiteral("ご案内の件"));
    EXPECT_EQ(back.body, QStringLiteral("パンフレット\r\n～です\r\n"));
    EXPECT_EQ(composed->envelopeFrom, QByteArray("taro@example.jp"));
    EXPECT_EQ(composed->recipients, QList<QByteArray>{"hanako@example.jp"});
}

// What ISO-2022-JP holds only with Windows' own codes (①, ㈱, №, the
// Roman numerals) or not at all (half-width kana) goes as UTF-8, exactly as
// written; a line longer than a mail line goes whole, in either charset.
TEST(Composer, TheUsersTextGoesAsWritten)
{
    const QString longLine = QStringLiteral("https://example.jp/") + QString(1088, u'a');
    ASSERT_EQ(longLine.size(), 1107);
    const QString subject = QStringLiteral("ｶﾞｲﾄﾞの件と①㈱№Ⅲ");
    const QString body = QStringLiteral("ﾊﾟﾝﾌﾚｯﾄ ①\r\n") + longLine + QStringLiteral("\r\n以上");
    QString error;
    const auto composed = mime::compose(mail(subject, body), &error);
    ASSERT_TRUE(composed) << qPrintable(error);
    EXPECT_TRUE(composed->bytes.contains("Subject: =?UTF-8?B?"));
    EXPECT_TRUE(composed->bytes.contains("charset=UTF-8"));
    EXPECT_FALSE(composed->bytes.contains("charset=ISO-2022-JP"));
    for (const QByteArray& line : composed->bytes.split('\n')) {
        EXPECT_LE(line.size(), 78) << line.constData();
    }
    mime::DecodedMail back = mime::decodeMail(composed->bytes);
    EXPECT_EQ(back.subject, subject);
    EXPECT_EQ(back.body, body + QStringLiteral("\r\n"));

    // Plain JIS X 0208 with a long line: ISO-2022-JP, the line whole.
    const QString jisBody = QStringLiteral("ご確認ください。\r\n") + longLine;
    const auto jis = mime::compose(mail(QStringLiteral("件名"), jisBody), &error);
    ASSERT_TRUE(jis);
    EXPECT_TRUE(jis->bytes.contains("charset=ISO-2022-JP"));
    for (const QByteArray& line : jis->bytes.split('\n')) {
        EXPECT_LE(line.size(), 999) << line.constData();
    }
    back = mime::decodeMail(jis->bytes);
    EXPECT_EQ(back.body, jisBody + QStringLiteral("\r\n"));
    // A mail built from a stored record keeps its long lines too.
    const QByteArray fromRecord = mime::mailFromTexts(QStringLiteral("a@example.jp"), QString(),
                                                      QStringLiteral("件名"), jisBody);
    for (const QByteArray& line : fromRecord.split('\n')) {
        EXPECT_LE(line.size(), 999);
    }
    EXPECT_EQ(mime::decodeMail(fromRecord).body, jisBody + QStringLiteral("\r\n"));
}

TEST(Composer, TextIso2022JpCannotHoldGoesAsUtf8)
{
    QString error;
    const QString subject = QStringLiteral("𠮷野家と한국어の長い件名").repeated(3);
    const auto composed = mime::compose(mail(subject, QStringLiteral("🍣 を食べた")), &error);
    ASSERT_TRUE(composed);
    EXPECT_TRUE(composed->bytes.contains("charset=UTF-8"));
    EXPECT_TRUE(composed->bytes.contains("Subject: =?UTF-8?B?"));
    for (const QByteArray& line : composed->bytes.split('\n')) {
        EXPECT_LE(line.size(), 78) << line.constData();
    }
    const mime::DecodedMail back = mime::decodeMail(composed->bytes);
    EXPECT_EQ(back.subject, subject);
    EXPECT_EQ(back.body, QStringLiteral("🍣 を食べた\r\n"));
}

TEST(Composer, HeadersCannotBeInjectedAndAddressesAreChecked)
{
    QString error;
    EXPECT_FALSE(
        mime::compose(mail(QStringLiteral("a\r\nBcc: x@evil"), QStringLiteral("b")), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("制御文字")));
    auto bad = mail(QStringLiteral("s"), QStringLiteral("b"));
    bad.to = QStringLiteral("hanako@example.jp\0evil@example.com");
    EXPECT_FALSE(mime::compose(bad, &error));
    bad.to = QStringLiteral("no address here");
    EXPECT_FALSE(mime::compose(bad, &error));
    bad.to = QStringLiteral("\"Suzuki, Ichiro\" <ichiro@example.jp>, hanako@example.jp");
    const auto two = mime::compose(bad, &error);
    ASSERT_TRUE(two);
    EXPECT_EQ(two->recipients, (QList<QByteArray>{"ichiro@example.jp", "hanako@example.jp"}));
}

// A file name is the user's (or a downloaded file's) and may hold anything a
// Linux file name can: it must never end the parameter or the header.
TEST(Composer, AttachmentNamesCannotInjectAndOnlyRegularFilesGo)
{
    lumora::test::TempFolder dir;
    const QStringList names = {QStringLiteral("a\"; filename=\"evil.exe"),
                               QStringLiteral("x\r\nX-Injected: yes.txt"),
                               QStringLiteral("back\\slash;semi.txt"), QStringLiteral("plain.txt"),
                               QStringLiteral("写真.jpg")};
    auto withFiles = mail(QStringLiteral("s"), QStringLiteral("b"));
    for (const QString& name : names) {
        dir.write(name, name.toUtf8());
        withFiles.attachments << dir.file(name);
    }
    QString error;
    const auto composed = mime::compose(withFiles, &error);
    ASSERT_TRUE(composed) << qPrintable(error);
    for (const QByteArray& line : composed->bytes.split('\n')) {
        EXPECT_FALSE(line.startsWith("X-Injected")) << line.constData();
        EXPECT_FALSE(line.contains("filename=\"evil")) << line.constData();
    }
    EXPECT_TRUE(composed->bytes.contains("name=\"plain.txt\""));
    const mime::DecodedMail back = mime::decodeMail(composed->bytes);
    ASSERT_EQ(back.attachments.size(), names.size());
    for (qsizetype i = 0; i < names.size(); ++i) {
        EXPECT_EQ(back.attachments[i].name, names[i]);
        EXPECT_EQ(back.attachments[i].data, names[i].toUtf8());
    }

    // Devices, pipes and folders are refused before anything is read.
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.file(QStringLiteral("pipe"))).constData(), 0600), 0);
    {
        QFile big(dir.file(QStringLiteral("big.bin")));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize((qint64(50) << 20) + 1)); // sparse
    }
    for (const QString& path :
         {QStringLiteral("/dev/zero"), dir.file(QStringLiteral("pipe")), dir.path(),
          dir.file(QStringLiteral("big.bin")), dir.file(QStringLiteral("missing"))}) {
        auto bad = mail(QStringLiteral("s"), QStringLiteral("b"));
        bad.attachments = {path};
        error.clear();
        EXPECT_FALSE(mime::compose(bad, &error)) << qPrintable(path);
        EXPECT_TRUE(error.contains(path)) << qPrintable(error);
    }
    EXPECT_TRUE(error.contains(QStringLiteral("見つかりません")));
}

TEST(ServerAddress, NamesAsUsersTypeThem)
{
    const auto pop = parseServerAddress(QStringLiteral(" pop.example.jp "), Protocol::Pop3);
    ASSERT_TRUE(pop);
    EXPECT_EQ(pop->port, 110);
    EXPECT_EQ(pop->tls, Tls::WhenOffered);
    EXPECT_EQ(parseServerAddress(QStringLiteral("pop3s://pop.example.jp"), Protocol::Pop3)->port,
              995);
    EXPECT_EQ(parseServerAddress(QStringLiteral("host:1100"), Protocol::Pop3)->port, 1100);
    EXPECT_EQ(parseServerAddress(QStringLiteral("smtp://mail.example.jp:587"), Protocol::Smtp)->tls,
              Tls::Required);
    EXPECT_EQ(parseServerAddress(QStringLiteral("smtps://mail.example.jp"), Protocol::Smtp)->port,
              465);
    EXPECT_EQ(parseServerAddress(QStringLiteral("mail.example.jp"), Protocol::Smtp)->port, 25);
    EXPECT_FALSE(parseServerAddress(QStringLiteral("imap://x"), Protocol::Pop3));
    EXPECT_FALSE(parseServerAddress(QStringLiteral("a b"), Protocol::Pop3));
    EXPECT_FALSE(parseServerAddress(QStringLiteral("host:99999"), Protocol::Pop3));
    EXPECT_FALSE(parseServerAddress(QString(), Protocol::Pop3));
}
