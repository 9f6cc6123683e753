#include "emoticons/emoticon_page.h"
#include "store/text_codec.h"
#include "support/temp_folder.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::TempFolder;

TEST(EmoticonPage, IsStoredWithExactlyOneLineEndAfterTheLastLine)
{
    EXPECT_EQ(emoticons::storedText(QStringLiteral("(^_^)\n(T_T)")),
              QStringLiteral("(^_^)\r\n(T_T)\r\n"));
    EXPECT_EQ(emoticons::storedText(QStringLiteral("(^_^)\r\n\r\n\n\r")),
              QStringLiteral("(^_^)\r\n"));
    // Empty lines inside the page are the user's and stay.
    EXPECT_EQ(emoticons::storedText(QStringLiteral("a\n\n\nb\r\n")),
              QStringLiteral("a\r\n\r\n\r\nb\r\n"));
    EXPECT_TRUE(emoticons::storedText(QStringLiteral("\r\n\n")).isEmpty());
}

TEST(EmoticonPage, ReadingAndWritingItBackChangesNothing)
{
    TempFolder folder;
    const QString path = folder.file(QStringLiteral("顔文字データ/Kao1.txt"));
    const QByteArray original = text::encodeCp932(QStringLiteral("（＾▽＾）\r\nヽ(・∀・)ノ\r\n"));
    folder.write(QStringLiteral("顔文字データ/Kao1.txt"), original);
    for (int i = 0; i < 10; ++i) {
        const Result<QString> page = emoticons::readPage(path);
        ASSERT_TRUE(page.ok());
        ASSERT_TRUE(emoticons::writePage(path, page.value()).ok());
    }
    EXPECT_EQ(folder.read(QStringLiteral("顔文字データ/Kao1.txt")), original);
}

TEST(EmoticonPage, KeepsWhatCp932CannotAndMakesAMissingFolder)
{
    TempFolder folder;
    const QString path = folder.file(QStringLiteral("gone/顔文字データ/Kao1.txt"));
    EXPECT_EQ(emoticons::readPage(path).status().error(), StoreError::NotFound);
    const QString page = QStringLiteral("😀 (≧▽≦) ☺\n");
    ASSERT_TRUE(emoticons::writePage(path, page).ok());
    const QByteArray bytes = folder.read(QStringLiteral("gone/顔文字データ/Kao1.txt"));
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_FALSE(bytes.contains('?'));
    const Result<QString> back = emoticons::readPage(path);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value(), QStringLiteral("😀 (≧▽≦) ☺\r\n"));
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(folder.file(QStringLiteral("gone/顔文字データ"))).entryList(QDir::Files),
              QStringList{QStringLiteral("Kao1.txt")});
}
