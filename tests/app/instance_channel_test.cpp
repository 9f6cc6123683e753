// A second start reaching the running program through its private socket.

#include "app/instance_channel.h"
#include "support/temp_folder.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

using lumora::InstanceChannel;
using lumora::test::TempFolder;
using Handover = lumora::InstanceChannel::Handover;

namespace {

// Runs client on another thread, as a second process would, while this
// thread serves the running side's events.
void besideEvents(const std::function<void()>& client)
{
    std::atomic_bool done{false};
    std::thread second([&] {
        client();
        done = true;
    });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    second.join();
    QCoreApplication::processEvents();
}

Handover sendWhileServing(const QString& path, const QString& link)
{
    Handover result = Handover::NoAnswer;
    besideEvents([&] { result = InstanceChannel::send(path, link, 2000); });
    return result;
}

QString pathIn(const TempFolder& runtime)
{
    return InstanceChannel::socketPath(runtime.path(), runtime.path()).value_or(QString());
}

} // namespace

class InstanceChannelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneSocketPerApplicationFolderInAPrivateFolder();
    void linksAndRaisesArriveAndTheSocketIsPrivate();
    void aStaleSocketFileIsReplacedAndNobodyListeningFailsQuickly();
    void aLinkOverTheLimitIsRefusedWholeNeverCut();
    void anIdleConnectionIsClosed();
    void aRequestWhoseSenderStopsWritingIsServedAndTheSocketGoesWithTheProgram();
    void anotherUsersConnectionIsRefused();
};

void InstanceChannelTest::oneSocketPerApplicationFolderInAPrivateFolder()
{
    TempFolder runtime; // made 0700, like $XDG_RUNTIME_DIR
    const QString a = pathIn(runtime);
    QVERIFY(a.startsWith(runtime.path() + QStringLiteral("/lumora-")));
    QCOMPARE(pathIn(runtime), a);
    QVERIFY(InstanceChannel::socketPath(runtime.path(), QStringLiteral("/home/u/other")) !=
            std::optional<QString>(a));

    // No runtime folder, or one others can enter: the user's own folder in
    // the temporary folder, private too.
    const std::optional<QString> fallback =
        InstanceChannel::socketPath(QString(), QStringLiteral("/home/u/x"));
    QVERIFY(fallback);
    QVERIFY(fallback->startsWith(InstanceChannel::fallbackFolder() + u'/'));
    struct stat st {};
    QCOMPARE(::lstat(QFile::encodeName(InstanceChannel::fallbackFolder()).constData(), &st), 0);
    QCOMPARE(st.st_mode & 077, 0u);
    QCOMPARE(st.st_uid, ::getuid());
    TempFolder open;
    QVERIFY(QFile::setPermissions(open.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                   QFileDevice::ExeOther));
    QVERIFY(InstanceChannel::socketPath(open.path(), QStringLiteral("/home/u/x"))
                ->startsWith(InstanceChannel::fallbackFolder()));
    // Nobody listens in a folder others may enter, and nobody sends there.
    InstanceChannel exposed(open.path() + QStringLiteral("/lumora-x.socket"));
    QVERIFY(!exposed.listen());
    QCOMPARE(InstanceChannel::send(open.path() + QStringLiteral("/lumora-x.socket"), QString()),
             Handover::NotTheUser);
}

void InstanceChannelTest::linksAndRaisesArriveAndTheSocketIsPrivate()
{
    TempFolder runtime;
    const QString path = pathIn(runtime);
    InstanceChannel running(path);
    QVERIFY(running.listen());
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QVERIFY(S_ISSOCK(st.st_mode));
    QCOMPARE(st.st_mode & 0777, 0600u);

    QSignalSpy links(&running, &InstanceChannel::linkReceived);
    QSignalSpy raises(&running, &InstanceChannel::raiseRequested);
    const QString link = QStringLiteral("mailto:taro@example.jp?subject=%E4%BB%B6&body=a%0D%0Ab");
    QCOMPARE(sendWhileServing(path, link), Handover::Delivered);
    QCOMPARE(links.size(), 1);
    QCOMPARE(links[0][0].toString(), link);
    QCOMPARE(raises.size(), 0);
    // A raw line break cannot cut the request short.
    QCOMPARE(sendWhileServing(path, QStringLiteral("mailto:a@x?body=1\n2")), Handover::Delivered);
    QCOMPARE(links.size(), 2);
    QCOMPARE(links[1][0].toString(), QStringLiteral("mailto:a@x?body=1%0A2"));
    QCOMPARE(sendWhileServing(path, QString()), Handover::Delivered);
    QCOMPARE(raises.size(), 1);
}

void InstanceChannelTest::aStaleSocketFileIsReplacedAndNobodyListeningFailsQuickly()
{
    TempFolder runtime;
    const QString path = pathIn(runtime);
    {
        InstanceChannel ended(path);
        QVERIFY(ended.listen());
    }
    QCOMPARE(InstanceChannel::send(path, QString(), 500), Handover::NoAnswer);
    runtime.write(QFileInfo(path).fileName(), "left behind");
    InstanceChannel running(path);
    QVERIFY(running.listen());
    QSignalSpy raises(&running, &InstanceChannel::raiseRequested);
    QCOMPARE(sendWhileServing(path, QString()), Handover::Delivered);
    QCOMPARE(raises.size(), 1);
}

// Links of 70 KB arrive whole; one over the limit is refused as a whole, on
// either side, and nothing cut short is ever opened.
void InstanceChannelTest::aLinkOverTheLimitIsRefusedWholeNeverCut()
{
    TempFolder runtime;
    const QString path = pathIn(runtime);
    InstanceChannel running(path);
    QVERIFY(running.listen());
    QSignalSpy links(&running, &InstanceChannel::linkReceived);
    const QString long70 = QStringLiteral("mailto:a@x?body=") + QString(70 * 1024, u'a');
    QCOMPARE(sendWhileServing(path, long70), Handover::Delivered);
    QCOMPARE(links.size(), 1);
    QCOMPARE(links[0][0].toString(), long70);
    const QString tooLong =
        QStringLiteral("mailto:a@x?body=") + QString(InstanceChannel::kMaxRequestBytes, u'a');
    QCOMPARE(sendWhileServing(path, tooLong), Handover::TooLong);
    // A sender that does not stop at the limit is told so, not served a part.
    QByteArray answer;
    besideEvents([&] {
        QLocalSocket socket;
        socket.connectToServer(path);
        if (socket.waitForConnected(2000)) {
            socket.write("MAILTO mailto:a@x?body=" +
                         QByteArray(InstanceChannel::kMaxRequestBytes + 10, 'b') + '\n');
            socket.waitForBytesWritten(2000);
            while (!socket.canReadLine() && socket.waitForReadyRead(2000)) {
            }
            answer = socket.readLine().trimmed();
        }
    });
    QCOMPARE(answer, QByteArray("TOO-LONG"));
    QCOMPARE(links.size(), 1);
}

void InstanceChannelTest::anIdleConnectionIsClosed()
{
    TempFolder runtime;
    const QString path = pathIn(runtime);
    InstanceChannel running(path, 300);
    QVERIFY(running.listen());
    qint64 heldFor = 0;
    besideEvents([&] {
        QLocalSocket socket;
        socket.connectToServer(path);
        QElapsedTimer timer;
        timer.start();
        if (socket.waitForConnected(2000)) {
            socket.waitForDisconnected(5000);
        }
        heldFor = timer.elapsed();
    });
    QVERIFY(heldFor >= 250 && heldFor < 3000);
}

void InstanceChannelTest::aRequestWhoseSenderStopsWritingIsServedAndTheSocketGoesWithTheProgram()
{
    TempFolder runtime;
    const QString path = pathIn(runtime);
    {
        InstanceChannel running(path);
        QVERIFY(running.listen());
        QSignalSpy raises(&running, &InstanceChannel::raiseRequested);
        // A sender (a script's) that writes its line and ends its side at once,
        // and one that goes with half a line.
        QByteArray answer;
        besideEvents([&] {
            const auto connectTo = [&path] {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                const QByteArray name = QFile::encodeName(path);
                std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
                ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
                return fd;
            };
            const int half = connectTo();
            (void)::write(half, "RAI", 3);
            ::close(half);
            const int fd = connectTo();
            (void)::write(fd, "RAISE\n", 6);
            ::shutdown(fd, SHUT_WR);
            char reply[16] = {};
            const ssize_t got = ::read(fd, reply, sizeof reply);
            answer = QByteArray(reply, static_cast<qsizetype>(std::max<ssize_t>(got, 0)));
            ::close(fd);
        });
        QCOMPARE(answer, QByteArray("OK\n"));
        QCOMPARE(raises.size(), 1);
        QVERIFY(QFileInfo::exists(path));
    }
    QVERIFY(!QFileInfo::exists(path));
}

// Another user who reaches the socket (it would take a folder of the user's
// made open by mistake) is cut off before anything is read. Needs root, to
// be another user.
void InstanceChannelTest::anotherUsersConnectionIsRefused()
{
    if (::getuid() != 0) {
        QSKIP("needs root to connect as another user");
    }
    TempFolder runtime;
    const QString path = pathIn(runtime);
    InstanceChannel running(path);
    QVERIFY(running.listen());
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0755); // the mistake
    ::chmod(QFile::encodeName(path).constData(), 0666);
    QSignalSpy links(&running, &InstanceChannel::linkReceived);
    const pid_t child = ::fork();
    if (child == 0) {
        // Not the listening socket nor the test's output: should the test
        // end first, nothing keeps this process or the run waiting.
        ::closefrom(3);
        if (::setuid(65534) != 0) {
            ::_exit(2);
        }
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(path);
        std::memcpy(address.sun_path, native.constData(),
                    std::min<size_t>(native.size(), sizeof address.sun_path - 1));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::_exit(3);
        }
        const char request[] = "MAILTO mailto:victim@example.jp?body=x\n";
        (void)::write(fd, request, sizeof request - 1);
        char answer[16] = {};
        const ssize_t n = ::read(fd, answer, sizeof answer);
        ::_exit(n > 0 ? 1 : 0);
    }
    int status = 0;
    bool ended = false;
    QElapsedTimer waited;
    waited.start();
    while (!(ended = ::waitpid(child, &status, WNOHANG) == child) && waited.elapsed() < 10'000) {
        QTest::qWait(10);
    }
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        QFAIL("the other user's connection was not cut off");
    }
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0); // no answer: cut off
    QCOMPARE(links.size(), 0);
}

QTEST_GUILESS_MAIN(InstanceChannelTest)
#include "instance_channel_test.moc"
