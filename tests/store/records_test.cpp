#include "store/records.h"
#include "store/text_codec.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::TempFolder;

namespace {

QByteArray slice(const QByteArray& b, qsizetype offset, qsizetype width)
{
    return b.mid(offset, width);
}

} // namespace

TEST(MailRecordLayout, FieldsLieAtTheirOffsetsWithCrLfAndLiveOne)
{
    const MailRecord r = MailRecord::received(
        QStringLiteral("  件名  "), QStringLiteral("taro@example.jp"),
        QStringLiteral("Mon, 7 Dec 2026 10:00:00 +0900"), QStringLiteral(" 本文\r\n二行目 "));
    const QByteArray& b = r.bytes();
    ASSERT_EQ(b.size(), 32284);
    EXPECT_EQ(slice(b, 0, 4), text::encodeCp932(QStringLiteral("件名")));
    EXPECT_EQ(slice(b, 4, 96), QByteArray(96, ' ')); // trimmed, then padded
    EXPECT_EQ(slice(b, 100, 30), QByteArray("Mon, 7 Dec 2026 10:00:00 +0900"));
    EXPECT_EQ(slice(b, 190, 15), QByteArray("taro@example.jp"));
    EXPECT_EQ(slice(b, 280, 4), text::encodeCp932(QStringLiteral("本文")));
    EXPECT_EQ(slice(b, 284, 2), QByteArray("\r\n"));
    EXPECT_EQ(slice(b, 32280, 2), QByteArray("\r\n"));
    EXPECT_EQ(slice(b, 32282, 2), QByteArray("\x01\x00", 2));
    EXPECT_EQ(r.live(), 1);
    EXPECT_EQ(text::trimSpaces(r.subject()), QStringLiteral("件名"));
}

TEST(MailRecordLayout, LongValuesAreCutToTheirFieldsInBytes)
{
    const QString body = QString(32001, QLatin1Char('b'));
    const MailRecord r =
        MailRecord::received(QString(60, QChar(u'題')), QString(), QString(), body);
    EXPECT_EQ(r.subject(), QString(50, QChar(u'題')));
    EXPECT_EQ(r.body(), body.left(32000));
    EXPECT_EQ(slice(r.bytes(), 32280, 2), QByteArray("\r\n")); // the body never runs over
}

TEST(AddressRecordLayout, FourLetterNameAndThreeLetterAddress)
{
    const AddressRecord r = AddressRecord::entry(QStringLiteral("Taro"), QStringLiteral("a@b"));
    const QByteArray expected = QByteArray("Taro") + QByteArray(86, ' ') + "\r\n" +
                                QByteArray("\x01\x00", 2) + "a@b" + QByteArray(87, ' ');
    EXPECT_EQ(r.bytes(), expected);
    // Entries are stored as typed: surrounding spaces stay.
    EXPECT_EQ(AddressRecord::entry(QStringLiteral(" x "), {}).name().left(3),
              QStringLiteral(" x "));
}

TEST(RecordFile, EmptyFileFirstAppendIsRecordOneAtOffsetZero)
{
    TempFolder dir;
    const RecordFile file = mailFile(dir.file(QStringLiteral("krddata2.data")));
    ASSERT_TRUE(file.ensureExists().ok());
    EXPECT_EQ(file.roundedCount(), 0);
    const auto n = storeReceivedMail(file, QStringLiteral("s"), QStringLiteral("f"),
                                     QStringLiteral("d"), QStringLiteral("b"));
    ASSERT_TRUE(n.ok());
    EXPECT_EQ(n.value(), 1);
    EXPECT_EQ(dir.read(QStringLiteral("krddata2.data")).size(), 32284);
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(storeReceivedMail(file, QString::number(i), {}, {}, {}).ok());
    }
    EXPECT_EQ(file.roundedCount(), 5);
    ASSERT_TRUE(file.read(5).ok());
    EXPECT_EQ(MailRecord::fromBytes(file.read(5).value()).subject().left(1), QStringLiteral("3"));
    EXPECT_EQ(file.read(6).status().error(), StoreError::EndOfFile);
    EXPECT_EQ(file.read(0).status().error(), StoreError::BadArgument);
}

TEST(RecordFile, CountsRoundHalvesToEvenAndPartialTailsAreNotRecords)
{
    TempFolder dir;
    const RecordFile file = addressFile(dir.file(QStringLiteral("krddata20.data")));
    const auto lengthOf = [&](qsizetype bytes) {
        dir.write(QStringLiteral("krddata20.data"), QByteArray(bytes, 'x'));
    };
    lengthOf(184 + 92); // 1.5 records
    EXPECT_EQ(file.roundedCount(), 2);
    EXPECT_EQ(file.wholeCount(), 1);
    EXPECT_EQ(file.read(2).status().error(), StoreError::EndOfFile);
    lengthOf(2 * 184 + 92); // 2.5 records
    EXPECT_EQ(file.roundedCount(), 2);
    lengthOf(100); // less than one record: nothing to read, nothing crashes
    EXPECT_EQ(file.read(1).status().error(), StoreError::EndOfFile);

    // An append onto a short tail writes over it: 1.4 records -> record 2.
    lengthOf(184 + 73);
    const auto n =
        file.append(AddressRecord::entry(QStringLiteral("n"), QStringLiteral("a")).bytes());
    ASSERT_TRUE(n.ok());
    EXPECT_EQ(n.value(), 2);
    EXPECT_EQ(dir.read(QStringLiteral("krddata20.data")).size(), 368);
}

TEST(RecordFile, GarbageRecordsReadWithoutCrashing)
{
    TempFolder dir;
    QByteArray garbage(184, '\0');
    for (int i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<char>((i * 37 + 0x81) & 0xFF);
    }
    dir.write(QStringLiteral("krddata20.data"), garbage);
    const RecordFile file = addressFile(dir.file(QStringLiteral("krddata20.data")));
    const auto bytes = file.read(1);
    ASSERT_TRUE(bytes.ok());
    const AddressRecord r = AddressRecord::fromBytes(bytes.value());
    EXPECT_FALSE(r.name().isEmpty());
    EXPECT_FALSE(r.address().isEmpty());
    // A short buffer becomes one whole record, padded with spaces.
    EXPECT_EQ(MailRecord::fromBytes("abc").bytes().size(), 32284);
    EXPECT_EQ(MailRecord::fromBytes("abc").subject().left(4), QStringLiteral("abc "));
}

TEST(RecordFile, WriteRejectsRecordsOfTheWrongLength)
{
    TempFolder dir;
    const RecordFile file = mailFile(dir.file(QStringLiteral("krddata2.data")));
    EXPECT_EQ(file.write(1, QByteArray(10, 'x')).error(), StoreError::BadArgument);
    EXPECT_FALSE(dir.exists(QStringLiteral("krddata2.data")));
}
