// The real program, started as a user starts it, in a throw-away home.

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <csignal>

using lumora::test::TempFolder;

namespace {

const QString kBinary = QStringLiteral(LUMORA_BINARY);

QProcessEnvironment environmentFor(const TempFolder& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.file(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    return env;
}

bool waitFor(const QString& file, int milliseconds)
{
    for (int waited = 0; waited < milliseconds; waited += 20) {
        if (QFile::exists(file)) {
            return true;
        }
        QThread::msleep(20);
    }
    return false;
}

// Starts the program, waits until its main window has loaded, ends it with
// a signal and returns its exit code.
int runAndSignal(const QString& binary, const TempFolder& home, const QString& loadedMarker,
                 int signal, QByteArray* errors = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(environmentFor(home));
    process.setWorkingDirectory(home.path());
    process.start(binary, {});
    if (!process.waitForStarted(5000)) {
        return -100;
    }
    if (!waitFor(loadedMarker, 10000)) {
        process.kill();
        process.waitForFinished();
        return -101;
    }
    QThread::msleep(200);
    ::kill(static_cast<pid_t>(process.processId()), signal);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return -102;
    }
    if (errors) {
        *errors = process.readAllStandardError();
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -103;
}

} // namespace

TEST(Process, SigtermEndsTheProgramLikeClosingItAndTheSettingsAreWritten)
{
    TempFolder home;
    const QString data = home.file(QStringLiteral("data/lumora/★MailData/"));
    EXPECT_EQ(runAndSignal(kBinary, home, data + QStringLiteral("krddata2.data"), SIGTERM), 0);
    QFile ini(data + QStringLiteral("ini.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_EQ(
        ini.readAll(),
        QByteArray("[EXEINI]\r\nNUMBER=0\r\nNUMBER2=0\r\nNAME=\r\nNUMBER4=0\r\nNUMBER5=\r\n"));
}

// At log-out nobody answers a message box: a setting that cannot be written
// is reported on the error stream and the program ends all the same.
TEST(Process, SigtermEndsTheProgramEvenWhenTheSettingsCannotBeWritten)
{
    TempFolder home;
    const QString data = home.file(QStringLiteral("data/lumora/★MailData/"));
    ASSERT_TRUE(QDir().mkpath(data + QStringLiteral("ini.ini"))); // a folder, not a file
    QByteArray errors;
    EXPECT_EQ(runAndSignal(kBinary, home, data + QStringLiteral("krddata2.data"), SIGTERM, &errors),
              0);
    EXPECT_TRUE(QString::fromLocal8Bit(errors).contains(
        QStringLiteral("設定をファイルに保存できませんでした。")))
        << errors.constData();
}

TEST(Process, ADataFolderBesideTheProgramKeepsEverythingThere)
{
    TempFolder home;
    TempFolder install;
    const QString binary = install.file(QStringLiteral("lumora"));
    ASSERT_TRUE(QFile::copy(kBinary, binary));
    ASSERT_TRUE(QDir().mkpath(install.file(QStringLiteral("★maildata"))));
    const QString marker = install.file(QStringLiteral("★maildata/krddata2.data"));
    EXPECT_EQ(runAndSignal(binary, home, marker, SIGINT), 0);
    EXPECT_TRUE(QFile::exists(install.file(QStringLiteral("★maildata/ini.ini"))));
    EXPECT_TRUE(QFile::exists(install.file(QStringLiteral("Button/1/1.jpg"))));
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("data/lumora"))));
}

// What the desktop's mailto: handler runs while Lumora is open: the link goes
// to the running program, and the second start ends at once.
TEST(Process, ASecondStartWithALinkHandsItToTheRunningOne)
{
    TempFolder home;
    QProcess first;
    first.setProcessEnvironment(environmentFor(home));
    first.setWorkingDirectory(home.path());
    first.start(kBinary, {});
    ASSERT_TRUE(first.waitForStarted(5000));
    // The socket is opened once the main window has loaded.
    bool listening = false;
    for (int waited = 0; waited < 10000 && !listening; waited += 20) {
        listening = !QDir(home.path())
                         .entryList({QStringLiteral("lumora-*.socket")}, QDir::System)
                         .isEmpty();
        QThread::msleep(20);
    }
    EXPECT_TRUE(listening);

    QProcess second;
    second.setProcessEnvironment(environmentFor(home));
    second.setWorkingDirectory(home.path());
    second.start(kBinary, {QStringLiteral("mailto:taro@example.jp?subject=%E4%BB%B6")});
    const bool ended = second.waitForFinished(10000);
    if (!ended) {
        second.kill(); // it would be waiting in its "already running" box
        second.waitForFinished();
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(second.exitCode(), 0);

    // A third link while the compose window holds the second: the running
    // program asks whether to replace it, and the session ends while the
    // box is open. The box is answered "no" and the program ends cleanly.
    QProcess third;
    third.setProcessEnvironment(environmentFor(home));
    third.setWorkingDirectory(home.path());
    third.start(kBinary, {QStringLiteral("mailto:hanako@example.jp")});
    EXPECT_TRUE(third.waitForFinished(10000));
    EXPECT_EQ(third.exitCode(), 0);
    QThread::msleep(300); // the question is up

    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    // The socket goes with the program.
    EXPECT_TRUE(
        QDir(home.path()).entryList({QStringLiteral("lumora-*.socket")}, QDir::System).isEmpty());
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
