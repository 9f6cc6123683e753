#include "store/file_io.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <sys/stat.h>

using namespace lumora;
using lumora::test::TempFolder;

TEST(AtomicWrite, ACrashAtAnyStepLeavesTheOldOrTheNewContentsNeverAMix)
{
    const fileio::WriteStep steps[] = {fileio::WriteStep::TempCreated,
                                       fileio::WriteStep::TempWritten,
                                       fileio::WriteStep::TempSynced, fileio::WriteStep::Renamed};
    for (const auto stop : steps) {
        TempFolder dir;
        dir.write(QStringLiteral("a.ini"), "old contents\r\n");
        fileio::WriteOptions options;
        options.hook = [stop](fileio::WriteStep s) {
            return s != stop;
        };
        const Status status =
            fileio::writeAtomically(dir.file(QStringLiteral("a.ini")), "new\r\n", options);
        EXPECT_EQ(status.error(), StoreError::Interrupted);
        const QByteArray now = dir.read(QStringLiteral("a.ini"));
        if (stop == fileio::WriteStep::Renamed) {
            EXPECT_EQ(now, QByteArray("new\r\n"));
        } else {
            EXPECT_EQ(now, QByteArray("old contents\r\n"));
        }
    }
}

TEST(AtomicWrite, OwnerOnlyFilesAreMode0600AndOthersKeepTheirMode)
{
    TempFolder dir;
    const QString secret = dir.file(QStringLiteral("iniIdPass.ini"));
    fileio::WriteOptions ownerOnly;
    ownerOnly.ownerOnly = true;
    ASSERT_TRUE(fileio::writeAtomically(secret, "x", ownerOnly).ok());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(secret).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const QString plain = dir.file(QStringLiteral("ini.ini"));
    dir.write(QStringLiteral("ini.ini"), "a");
    ::chmod(QFile::encodeName(plain).constData(), 0640);
    ASSERT_TRUE(fileio::writeAtomically(plain, "b").ok());
    ASSERT_EQ(::stat(QFile::encodeName(plain).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // No temporary file is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST(AtomicWrite, AFolderThatCannotBeWrittenIsAnErrorNotACrash)
{
    const Status status = fileio::writeAtomically(QStringLiteral("/nonexistent-folder/x.ini"), "x");
    EXPECT_EQ(status.error(), StoreError::OpenFailed);
}

TEST(FlushAhead, FlushesOncePerStepOfWritesAndNeverHoldsUpTheWriter)
{
    TempFolder dir;
    fileio::FlushAhead ahead({dir.path(), dir.path()});
    const auto flushesReach = [&ahead](int count) {
        for (int waited = 0; waited < 5000 && ahead.flushes() < count; waited += 5) {
            QThread::msleep(5);
        }
        return ahead.flushes() >= count;
    };
    ahead.wrote(fileio::FlushAhead::kStepBytes - 1);
    QThread::msleep(50);
    EXPECT_EQ(ahead.flushes(), 0);
    ahead.wrote(1);
    EXPECT_TRUE(flushesReach(1));
    EXPECT_EQ(ahead.flushes(), 1);
    // Steps reported while a flush runs are taken together by the next one.
    for (int step = 0; step < 3; ++step) {
        ahead.wrote(fileio::FlushAhead::kStepBytes);
    }
    EXPECT_TRUE(flushesReach(2));
    QThread::msleep(50);
    EXPECT_LE(ahead.flushes(), 4);
    EXPECT_TRUE(fileio::syncFileSystems({dir.path(), dir.path()}));
    EXPECT_FALSE(fileio::syncFileSystems({dir.path() + QStringLiteral("/missing")}));
}
