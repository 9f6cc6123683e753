// A second start reaching the running program through its private socket.

#include "app/instance_channel.h"
#include "support/temp_folder.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

#include <atomic>
#include <thread>

using lumora::InstanceChannel;
using lumora::test::TempFolder;

namespace {

// Sends from another thread, as a second process would, while this thread
// serves the running side's events.
bool sendWhileServing(const QString& path, const QString& link)
{
    std::atomic_bool done{false};
    bool delivered = false;
    std::thread second([&] {
        delivered = InstanceChannel::send(path, link, 2000);
        done = true;
    });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    second.join();
    QCoreApplication::processEvents();
    return delivered;
}

} // namespace

class InstanceChannelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneSocketPerApplicationFolder();
    void linksAndRaisesArriveAndTheSocketIsPrivate();
    void aStaleSocketFileIsReplacedAndNobodyListeningFailsQuickly();
};

void InstanceChannelTest::oneSocketPerApplicationFolder()
{
    const QString a = InstanceChannel::socketPath(QStringLiteral("/run/user/1000"),
                                                  QStringLiteral("/home/u/.local/share/lumora"));
    QVERIFY(a.startsWith(QStringLiteral("/run/user/1000/lumora-")));
    QCOMPARE(InstanceChannel::socketPath(QStringLiteral("/run/user/1000"),
                                         QStringLiteral("/home/u/.local/share/lumora")),
             a);
    QVERIFY(InstanceChannel::socketPath(QStringLiteral("/run/user/1000"),
                                        QStringLiteral("/home/u/other")) != a);
}

void InstanceChannelTest::linksAndRaisesArriveAndTheSocketIsPrivate()
{
    TempFolder runtime;
    const QString path = InstanceChannel::socketPath(runtime.path(), runtime.path());
    InstanceChannel running(path);
    QVERIFY(running.listen());
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QVERIFY(S_ISSOCK(st.st_mode));
    QCOMPARE(st.st_mode & 0777, 0600u);

    QSignalSpy links(&running, &InstanceChannel::linkReceived);
    QSignalSpy raises(&running, &InstanceChannel::raiseRequested);
    const QString link = QStringLiteral("mailto:taro@example.jp?subject=%E4%BB%B6&body=a%0D%0Ab");
    QVERIFY(sendWhileServing(path, link));
    QCOMPARE(links.size(), 1);
    QCOMPARE(links[0][0].toString(), link);
    QCOMPARE(raises.size(), 0);
    // A raw line break cannot cut the request short.
    QVERIFY(sendWhileServing(path, QStringLiteral("mailto:a@x?body=1\n2")));
    QCOMPARE(links.size(), 2);
    QCOMPARE(links[1][0].toString(), QStringLiteral("mailto:a@x?body=1%0A2"));
    QVERIFY(sendWhileServing(path, QString()));
    QCOMPARE(raises.size(), 1);
}

void InstanceChannelTest::aStaleSocketFileIsReplacedAndNobodyListeningFailsQuickly()
{
    TempFolder runtime;
    const QString path = InstanceChannel::socketPath(runtime.path(), runtime.path());
    {
        InstanceChannel ended(path);
        QVERIFY(ended.listen());
    }
    QVERIFY(!InstanceChannel::send(path, QString(), 500));
    runtime.write(QFileInfo(path).fileName(), "left behind");
    InstanceChannel running(path);
    QVERIFY(running.listen());
    QSignalSpy raises(&running, &InstanceChannel::raiseRequested);
    QVERIFY(sendWhileServing(path, QString()));
    QCOMPARE(raises.size(), 1);
}

QTEST_GUILESS_MAIN(InstanceChannelTest)
#include "instance_channel_test.moc"
