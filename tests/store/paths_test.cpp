#include "store/paths.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>

using namespace lumora;
using lumora::test::TempFolder;

TEST(CaseInsensitivePaths, EverySpellingOfTheDataFolderFindsTheSameFiles)
{
    TempFolder dir;
    dir.write(QStringLiteral("★Maildata/KRDDATA2.DATA"), "x");
    const QString real = dir.file(QStringLiteral("★Maildata/KRDDATA2.DATA"));
    for (const QString& spelling :
         {QStringLiteral("★MailData"), QStringLiteral("★MAilData"), QStringLiteral("★Maildata")}) {
        // Windows' separator, ours, or a run of both.
        for (const QString& separator :
             {QStringLiteral("\\"), QStringLiteral("/"), QStringLiteral("\\/\\")}) {
            EXPECT_EQ(findPath(dir.path(), spelling + separator + QStringLiteral("krddata2.data")),
                      real);
        }
    }
    EXPECT_EQ(findPath(dir.path(), QStringLiteral("/★maildata/")),
              dir.file(QStringLiteral("★Maildata")));
    const AppPaths paths = AppPaths::at(dir.path());
    EXPECT_EQ(paths.receivedFile(), real);
    // A file that does not exist yet keeps the spelling asked for, in the
    // folder that does exist.
    EXPECT_EQ(paths.receivedTemp(), dir.file(QStringLiteral("★Maildata/KRDDATA2.TMP")));
}

TEST(ApplicationFolder, ADataFolderBesideTheExecutableMakesAPortableInstall)
{
    TempFolder exe;
    QDir().mkpath(exe.file(QStringLiteral("★MAILDATA")));
    const AppPaths paths =
        AppPaths::locate(exe.path(), QStringLiteral("/xdg"), QStringLiteral("/home/u"));
    EXPECT_TRUE(paths.portable());
    EXPECT_EQ(paths.appFolder(), exe.path());
    EXPECT_EQ(paths.dataFolder(), exe.file(QStringLiteral("★MAILDATA")));
}

TEST(ApplicationFolder, OtherwiseTheUsersDataFolder)
{
    TempFolder exe;
    EXPECT_EQ(
        AppPaths::locate(exe.path(), QStringLiteral("/xdg"), QStringLiteral("/home/u")).appFolder(),
        QStringLiteral("/xdg/lumora"));
    EXPECT_EQ(AppPaths::locate(exe.path(), QString(), QStringLiteral("/home/u")).appFolder(),
              QStringLiteral("/home/u/.local/share/lumora"));
    // A relative XDG_DATA_HOME is not to be used.
    EXPECT_EQ(
        AppPaths::locate(exe.path(), QStringLiteral("rel"), QStringLiteral("/home/u")).appFolder(),
        QStringLiteral("/home/u/.local/share/lumora"));
    EXPECT_FALSE(AppPaths::locate(exe.path(), {}, QStringLiteral("/h")).portable());
}

TEST(ApplicationFolder, CreateFoldersMakesEveryFolderAndReusesExistingSpellings)
{
    TempFolder dir;
    QDir().mkpath(dir.file(QStringLiteral("★maildata")));
    const AppPaths paths = AppPaths::at(dir.path());
    ASSERT_TRUE(paths.createFolders().ok());
    const QStringList entries = QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    EXPECT_EQ(entries.size(), 5) << entries.join(u',').toStdString();
    EXPECT_TRUE(entries.contains(QStringLiteral("★maildata")));
    EXPECT_TRUE(QDir(dir.file(QStringLiteral("Button/3"))).exists());
    EXPECT_TRUE(QDir(dir.file(QStringLiteral("添付フォルダ"))).exists());
}

TEST(ApplicationFolder, TheProgramWorksBesideAServerFileOrInItsOwnFolder)
{
    TempFolder started;
    const AppPaths paths = AppPaths::at(QStringLiteral("/home/u/.local/share/lumora"));
    // From the desktop menu, in the home folder: its own folder.
    EXPECT_EQ(paths.workingFolder(started.path()), paths.appFolder());
    // Started beside a server file (any spelling): that folder keeps it.
    started.write(QStringLiteral("KURODO.INI"), "POP3=pop\r\n");
    EXPECT_EQ(paths.workingFolder(started.path()), started.path());
}
