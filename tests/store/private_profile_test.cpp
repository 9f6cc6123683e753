#include "store/private_profile.h"
#include "store/text_codec.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::TempFolder;

namespace {
const QString kSection = QStringLiteral("EXEINI");
}

TEST(PrivateProfile, MissingFileSectionOrKeyGivesTheDefault)
{
    TempFolder dir;
    const QString ini = dir.file(QStringLiteral("ini.ini"));
    EXPECT_EQ(profile::readInt(ini, kSection, QStringLiteral("NUMBER")), 0);
    EXPECT_EQ(profile::readInt(ini, kSection, QStringLiteral("NUMBER"), 7), 7);
    EXPECT_EQ(profile::readString(ini, kSection, QStringLiteral("NAME")), QString());

    dir.write(QStringLiteral("ini.ini"), "[OTHER]\r\nNUMBER=5\r\n");
    EXPECT_EQ(profile::readInt(ini, kSection, QStringLiteral("NUMBER")), 0);
}

TEST(PrivateProfile, NamesMatchWithoutCaseAndValuesAreTrimmedAndUnquoted)
{
    TempFolder dir;
    dir.write(QStringLiteral("ini.ini"),
              "; settings\r\n[exeini]\r\n number = 1 \r\nName=\"  a b \"\r\n"
              "NUMBER2=abc\r\nNUMBER4=\r\nNUMBER5=12x\r\n");
    const QString ini = dir.file(QStringLiteral("ini.ini"));
    EXPECT_EQ(profile::readInt(ini, kSection, QStringLiteral("NUMBER")), 1);
    EXPECT_EQ(profile::readString(ini, kSection, QStringLiteral("NAME")), QStringLiteral("  a b "));
    EXPECT_EQ(profile::readInt(ini, kSection, QStringLiteral("NUMBER2"), 9),
              0); // letters read as 0
    EXPECT_EQ(profile::readInt(ini, kSection, QStringLiteral("NUMBER4"), 9), 9); // empty: default
    EXPECT_EQ(profile::readInt(ini, kSection, QStringLiteral("NUMBER5")), 12);
}

TEST(PrivateProfile, WriteCreatesFileAndSectionInCp932WithCrLf)
{
    TempFolder dir;
    const QString ini = dir.file(QStringLiteral("ini.ini"));
    ASSERT_TRUE(
        profile::writeString(ini, kSection, QStringLiteral("NAME"), QStringLiteral("背景〜.jpg"))
            .ok());
    EXPECT_EQ(dir.read(QStringLiteral("ini.ini")),
              QByteArray("[EXEINI]\r\nNAME=") + text::encodeCp932(QStringLiteral("背景～.jpg")) +
                  "\r\n");
    EXPECT_EQ(profile::readString(ini, kSection, QStringLiteral("name")),
              QStringLiteral("背景～.jpg"));
}

TEST(PrivateProfile, WriteKeepsEveryOtherLineByteForByte)
{
    TempFolder dir;
    // A comment, a blank line, an LF-only line, another section after ours,
    // and bytes that are not valid CP932: all must come back as they were.
    const QByteArray before =
        "; keep me\r\n\r\n[EXEINI]\r\nNUMBER=0\r\nOdd=\xA0\xFD\r\n[Later]\nX=1\r\n";
    dir.write(QStringLiteral("ini.ini"), before);
    const QString ini = dir.file(QStringLiteral("ini.ini"));
    ASSERT_TRUE(
        profile::writeString(ini, kSection, QStringLiteral("number"), QStringLiteral("1")).ok());
    ASSERT_TRUE(
        profile::writeString(ini, kSection, QStringLiteral("NUMBER3"), QStringLiteral("1")).ok());
    EXPECT_EQ(dir.read(QStringLiteral("ini.ini")),
              QByteArray("; keep me\r\n\r\n[EXEINI]\r\nNUMBER=1\r\nOdd=\xA0\xFD\r\nNUMBER3=1\r\n"
                         "[Later]\r\nX=1\r\n"));
}

TEST(PrivateProfile, RemovingAKeyTakesEveryLineOfItAndNothingElse)
{
    TempFolder dir;
    dir.write(QStringLiteral("ini.ini"),
              "[EXEINI]\r\nNAME2=a\r\nX=1\r\nname2=b\r\n[Other]\r\nNAME2=c\r\n");
    const QString ini = dir.file(QStringLiteral("ini.ini"));
    ASSERT_TRUE(profile::writeStrings(ini, kSection, {{QStringLiteral("NAME2"), {}, true}}).ok());
    EXPECT_EQ(dir.read(QStringLiteral("ini.ini")),
              QByteArray("[EXEINI]\r\nX=1\r\n[Other]\r\nNAME2=c\r\n"));
    EXPECT_EQ(profile::readString(ini, kSection, QStringLiteral("NAME2"), QStringLiteral("-")),
              QStringLiteral("-"));
}

TEST(PrivateProfile, LongValuesAreStoredWholeAndReadBackCutAt255Bytes)
{
    TempFolder dir;
    const QString ini = dir.file(QStringLiteral("ini.ini"));
    const QString ascii(300, QLatin1Char('p'));
    ASSERT_TRUE(profile::writeString(ini, kSection, QStringLiteral("NAME2"), ascii).ok());
    EXPECT_TRUE(dir.read(QStringLiteral("ini.ini")).contains(ascii.toLatin1()));
    EXPECT_EQ(profile::readString(ini, kSection, QStringLiteral("NAME2")), ascii.left(255));

    // 2 + 150 double-byte characters: the cut at 255 bytes falls inside the
    // 127th double-byte character, which is dropped whole.
    const QString mixed = QStringLiteral("ab") + QString(150, QChar(u'漢'));
    ASSERT_TRUE(profile::writeString(ini, kSection, QStringLiteral("NAME2"), mixed).ok());
    EXPECT_EQ(profile::readString(ini, kSection, QStringLiteral("NAME2")), mixed.left(128));
}
