#include "app/app_folder.h"
#include "store/paths.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>

using namespace lumora;
using lumora::test::TempFolder;

namespace {

void checkBundledFiles(const TempFolder& dir, const AppPaths& paths)
{

    for (int set = 1; set <= 3; ++set) {
        for (int n = 1; n <= 6; ++n) {
            const QImage image(paths.buttonImage(set, n));
            EXPECT_FALSE(image.isNull()) << set << '/' << n;
            EXPECT_EQ(image.width(), image.height());
        }
    }
    // The three sets differ in colour: the centre-left pixel of the same
    // button is bluest in set 1, reddest in 2, greenest in 3.
    const auto pixel = [&](int set) {
        return QImage(paths.buttonImage(set, 2)).pixelColor(8, 60);
    };
    EXPECT_GT(pixel(1).blue(), pixel(1).red());
    EXPECT_GT(pixel(2).red(), pixel(2).blue());
    EXPECT_GT(pixel(3).green(), pixel(3).red());

    EXPECT_FALSE(QImage(paths.lampFile(true)).isNull());
    EXPECT_FALSE(QImage(paths.lampFile(false)).isNull());

    const QByteArray page = dir.read(QStringLiteral("顔文字データ/Kao1.txt"));
    const QString text = text::decodeCp932(page);
    EXPECT_GT(text.count(u'\n'), 10);
    EXPECT_EQ(page.count("\r\n"), page.count('\n')); // CR LF throughout
    EXPECT_TRUE(text.contains(QStringLiteral("(^_^)")));
    EXPECT_TRUE(text.contains(QStringLiteral("①")));
    EXPECT_FALSE(text.contains(u'\uFFFD'));
    EXPECT_FALSE(text.contains(u'?')) << "a character of the page is not CP932";
}

} // namespace

TEST(AppFolder, AnEmptyFolderGetsEveryFolderAndTheFilesThatComeWithTheProgram)
{
    TempFolder dir;
    const AppPaths paths = AppPaths::at(dir.path());
    InstanceLock lock;
    ASSERT_TRUE(prepareAppFolder(paths, lock).ok());
    checkBundledFiles(dir, paths);
}

TEST(AppFolder, TheFilesThatComeWithTheProgramCanBePutInPlaceWhileTheWindowIsMade)
{
    TempFolder dir;
    const AppPaths paths = AppPaths::at(dir.path());
    InstanceLock lock;
    std::future<Status> bundled;
    ASSERT_TRUE(prepareAppFolder(paths, lock, nullptr, &bundled).ok());
    ASSERT_TRUE(bundled.valid());
    ASSERT_TRUE(bundled.get().ok());
    checkBundledFiles(dir, paths);
}

TEST(AppFolder, FilesTheUserAlreadyHasAreNeverReplaced)
{
    TempFolder dir;
    dir.write(QStringLiteral("★MAILDATA/red.gif"), "mine");
    dir.write(QStringLiteral("顔文字データ/kao1.TXT"), "my page\r\n");
    dir.write(QStringLiteral("button/2/3.JPG"), "my picture");
    InstanceLock lock;
    ASSERT_TRUE(prepareAppFolder(AppPaths::at(dir.path()), lock).ok());
    EXPECT_EQ(dir.read(QStringLiteral("★MAILDATA/red.gif")), QByteArray("mine"));
    EXPECT_EQ(dir.read(QStringLiteral("顔文字データ/kao1.TXT")), QByteArray("my page\r\n"));
    EXPECT_EQ(dir.read(QStringLiteral("button/2/3.JPG")), QByteArray("my picture"));
    EXPECT_FALSE(dir.exists(QStringLiteral("★MailData")));
}

TEST(AppFolder, ASecondCopyOfTheProgramIsTurnedAwayUntilTheFirstEnds)
{
    TempFolder dir;
    const AppPaths paths = AppPaths::at(dir.path());
    {
        InstanceLock first;
        ASSERT_TRUE(prepareAppFolder(paths, first).ok());
        // The second copy is turned away before it puts anything in place.
        ASSERT_TRUE(QFile::remove(paths.lampFile(true)));
        dir.write(QStringLiteral("★MailData/KRDDATA2.TMP"), "left by the first copy");
        InstanceLock second;
        EXPECT_EQ(prepareAppFolder(paths, second).error(), StoreError::Locked);
        EXPECT_FALSE(second.held());
        EXPECT_FALSE(QFile::exists(paths.lampFile(true)));
        EXPECT_TRUE(dir.exists(QStringLiteral("★MailData/KRDDATA2.TMP")));
    }
    InstanceLock third;
    EXPECT_TRUE(prepareAppFolder(paths, third).ok());
}

TEST(AppFolder, StartUpRepairsADeletionThatACrashInterrupted)
{
    TempFolder dir;
    const QByteArray two = AddressRecord::entry(QStringLiteral("a"), {}).bytes() +
                           AddressRecord::entry(QStringLiteral("b"), {}).bytes();
    // The data file was removed and the copy not yet put back.
    dir.write(QStringLiteral("★MailData/KRDDATA20.TMP"), two);
    dir.write(QStringLiteral("★MailData/krddata2.data"), QByteArray());
    InstanceLock lock;
    ASSERT_TRUE(prepareAppFolder(AppPaths::at(dir.path()), lock).ok());
    EXPECT_EQ(dir.read(QStringLiteral("★MailData/krddata20.data")), two);
    EXPECT_FALSE(dir.exists(QStringLiteral("★MailData/KRDDATA20.TMP")));
}

// A data file that is not a plain file (a link to a device, a folder) would
// swallow mail or hang a read: the program refuses the folder, saying which.
TEST(AppFolder, ADataFileThatIsNotAPlainFileIsRefused)
{
    {
        TempFolder dir;
        QDir().mkpath(dir.file(QStringLiteral("★MailData")));
        ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"),
                                dir.file(QStringLiteral("★MailData/krddata2.data"))));
        InstanceLock lock;
        const Status status = prepareAppFolder(AppPaths::at(dir.path()), lock);
        EXPECT_FALSE(status.ok());
        EXPECT_TRUE(status.detail().contains(QStringLiteral("krddata2.data")));
        EXPECT_TRUE(status.detail().contains(QStringLiteral("通常のファイルではありません")));
    }
    {
        TempFolder dir;
        dir.write(QStringLiteral("★MailData/messages"), "a file where a folder belongs");
        InstanceLock lock;
        const Status status = prepareAppFolder(AppPaths::at(dir.path()), lock);
        EXPECT_FALSE(status.ok());
        EXPECT_TRUE(status.detail().contains(QStringLiteral("messages")));
    }
}

// Killed after the mark and before the rename: the next start completes the
// deletion the user asked for, and leaves no copy of the file behind.
TEST(AppFolder, StartUpCompletesADeletionThatACrashStopped)
{
    TempFolder dir;
    MailRecord one = MailRecord::received(QStringLiteral("一"), {}, {}, {});
    MailRecord two = MailRecord::received(QStringLiteral("二"), {}, {}, {});
    two.setLive(0);
    const MailRecord three = MailRecord::received(QStringLiteral("三"), {}, {}, {});
    dir.write(QStringLiteral("★MailData/krddata2.data"), one.bytes() + two.bytes() + three.bytes());
    dir.write(QStringLiteral("★MailData/krddata2.data.deleting"), "count 3\ndelete 2-2\n");
    dir.write(QStringLiteral("★MailData/KRDDATA2.TMP"), one.bytes()); // half made
    InstanceLock lock;
    QStringList kept;
    ASSERT_TRUE(prepareAppFolder(AppPaths::at(dir.path()), lock, &kept).ok());
    EXPECT_EQ(dir.read(QStringLiteral("★MailData/krddata2.data")), one.bytes() + three.bytes());
    EXPECT_FALSE(dir.exists(QStringLiteral("★MailData/krddata2.data.deleting")));
    EXPECT_FALSE(dir.exists(QStringLiteral("★MailData/KRDDATA2.TMP")));
    EXPECT_TRUE(kept.isEmpty());
    EXPECT_EQ(QDir(dir.file(QStringLiteral("★MailData")))
                  .entryList({QStringLiteral("*.kept")}, QDir::Files)
                  .size(),
              0);
}
