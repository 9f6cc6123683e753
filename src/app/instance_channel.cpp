#include "app/instance_channel.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace lumora {
namespace {

const QByteArray kRaise = "RAISE";
const QByteArray kMailto = "MAILTO ";
const QByteArray kTooLong = "TOO-LONG";

// A folder nobody but this user can enter or list: its own, not a link,
// no permissions for the group or others.
bool privateFolder(const QString& folder)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

// The user at the other end of a connected local socket is this user.
bool sameUser(int fd)
{
    ucred peer{};
    socklen_t length = sizeof peer;
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           length == sizeof peer && peer.uid == ::getuid();
}

// The socket's address; false for a path too long for one.
bool socketAddress(const QString& path, sockaddr_un& address)
{
    const QByteArray name = QFile::encodeName(path);
    address = {};
    address.sun_family = AF_UNIX;
    if (name.isEmpty() || name.size() >= static_cast<qsizetype>(sizeof address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
    return true;
}

// Waits until fd is ready for events, until deadline; false when it is not.
bool waitFor(int fd, short events, const QDeadlineTimer& deadline)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(deadline.remainingTime()));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

// Runs step (a send or a receive on the non-blocking fd) until it goes
// through: again after an interruption, and once fd is ready for events
// while it would block, until deadline. What step gave, or -1.
template <class Step>
ssize_t onceReady(int fd, short events, const QDeadlineTimer& deadline, const Step& step)
{
    for (;;) {
        const ssize_t n = step();
        if (n >= 0) {
            return n;
        }
        if (errno != EINTR &&
            ((errno != EAGAIN && errno != EWOULDBLOCK) || !waitFor(fd, events, deadline))) {
            return -1;
        }
    }
}

} // namespace

// One connection to the running program: its bytes so far, and the timer
// that closes it when it says nothing in time.
class InstanceChannel::Connection : public QObject {
public:
    Connection(int socket, QObject* parent)
        : QObject(parent), fd(socket), readable(socket, QSocketNotifier::Read)
    {
    }
    ~Connection() override
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Answers (when there is an answer), closes the socket and goes, once.
    void end(const QByteArray& answer = {})
    {
        if (fd < 0) {
            return;
        }
        readable.setEnabled(false);
        idle.stop();
        if (!answer.isEmpty()) {
            // A few bytes into a socket nothing was written to yet: taken whole.
            (void)::send(fd, answer.constData(), static_cast<size_t>(answer.size()), MSG_NOSIGNAL);
        }
        ::close(fd);
        fd = -1;
        deleteLater();
    }

    int fd;
    QByteArray bytes;
    QSocketNotifier readable;
    QTimer idle;
};

QString InstanceChannel::fallbackFolder()
{
    const QString folder =
        QDir::tempPath() + QStringLiteral("/lumora-") + QString::number(::getuid());
    // Made private from the start; one that is there already is checked by
    // the caller, never trusted for being there.
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    return folder;
}

std::optional<QString> InstanceChannel::socketPath(const QString& runtimeFolder,
                                                   const QString& appFolder)
{
    QString folder = runtimeFolder;
    if (folder.isEmpty() || !privateFolder(folder)) {
        folder = fallbackFolder();
        if (!privateFolder(folder)) {
            return std::nullopt;
        }
    }
    // One socket per application folder, as there is one lock per folder.
    const QByteArray key = QCryptographicHash::hash(
        QFileInfo(appFolder).absoluteFilePath().toUtf8(), QCryptographicHash::Sha256);
    return folder + QStringLiteral("/lumora-") + QString::fromLatin1(key.toHex().left(16)) +
           QStringLiteral(".socket");
}

InstanceChannel::InstanceChannel(QString path, int idleMilliseconds, QObject* parent)
    : QObject(parent), path_(std::move(path)), idleMilliseconds_(idleMilliseconds)
{
}

InstanceChannel::~InstanceChannel()
{
    if (listening_ >= 0) {
        ::close(listening_);
        ::unlink(QFile::encodeName(path_).constData());
    }
}

bool InstanceChannel::listen()
{
    sockaddr_un address{};
    if (!privateFolder(QFileInfo(path_).absolutePath()) || !socketAddress(path_, address)) {
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    // The caller holds the folder's lock: a socket file there is stale.
    ::unlink(address.sun_path);
    // Read and write for the user alone from the moment the file exists
    // (the folder lets nobody else in either).
    const mode_t mask = ::umask(077);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(mask);
    if (!bound || ::listen(fd, 8) != 0) {
        ::close(fd);
        return false;
    }
    ::chmod(address.sun_path, 0600);
    listening_ = fd;
    waiting_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(waiting_, &QSocketNotifier::activated, this, &InstanceChannel::accept);
    return true;
}

void InstanceChannel::accept()
{
    for (;;) {
        const int fd = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // none left (or none to take now)
        }
        if (!sameUser(fd)) {
            ::close(fd); // another user's connection: not a word read
            continue;
        }
        auto* connection = new Connection(fd, this);
        // A connection that says nothing in time is closed.
        connection->idle.setSingleShot(true);
        connect(&connection->idle, &QTimer::timeout, connection,
                [connection] { connection->end(); });
        connection->idle.start(idleMilliseconds_);
        connect(&connection->readable, &QSocketNotifier::activated, this,
                [this, connection] { serve(connection); });
        serve(connection); // what arrived with the connection
    }
}

void InstanceChannel::serve(Connection* connection)
{
    if (connection->fd < 0) {
        return;
    }
    char chunk[65536];
    bool ended = false; // the other side sends no more
    for (;;) {
        const ssize_t got = ::recv(connection->fd, chunk, sizeof chunk, 0);
        if (got > 0) {
            connection->bytes.append(chunk, got);
            if (connection->bytes.size() > kMaxRequestBytes + 2) {
                break; // enough to tell
            }
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        ended = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break; // the rest is still coming, or nothing more will
    }
    const qsizetype lineEnd = connection->bytes.indexOf('\n');
    const bool tooLong =
        lineEnd >= 0 ? lineEnd > kMaxRequestBytes + 1 : connection->bytes.size() > kMaxRequestBytes;
    if (lineEnd < 0 && !tooLong) {
        if (ended) {
            connection->end(); // gone before a whole request: nothing to do
        }
        return;
    }
    if (tooLong) {
        connection->end(kTooLong + '\n');
        return;
    }
    const QByteArray line = connection->bytes.left(lineEnd).trimmed();
    connection->end("OK\n");
    if (line == kRaise) {
        Q_EMIT raiseRequested();
    } else if (line.startsWith(kMailto)) {
        Q_EMIT linkReceived(QString::fromUtf8(line.mid(kMailto.size())));
    }
}

InstanceChannel::Handover InstanceChannel::send(const QString& path, const QString& link,
                                                int timeoutMs)
{
    QByteArray line = link.isEmpty() ? kRaise : kMailto + link.toUtf8();
    // A link is one line; a line break inside it would end the request early.
    line.replace('\r', "%0D").replace('\n', "%0A");
    if (line.size() + 1 > kMaxRequestBytes) {
        return Handover::TooLong;
    }
    if (!privateFolder(QFileInfo(path).absolutePath())) {
        return Handover::NotTheUser;
    }
    sockaddr_un address{};
    if (!socketAddress(path, address)) {
        return Handover::NoAnswer;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return Handover::NoAnswer;
    }
    const auto result = [fd](Handover handover) {
        ::close(fd);
        return handover;
    };
    const QDeadlineTimer deadline(timeoutMs);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // A full backlog: the running program may still take it in time.
        int error = errno;
        while (error == EAGAIN && !deadline.hasExpired()) {
            QThread::msleep(10);
            error = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
                        ? 0
                        : errno;
        }
        if (error != 0) {
            return result(Handover::NoAnswer);
        }
    }
    if (!sameUser(fd)) {
        return result(Handover::NotTheUser);
    }
    line += '\n';
    for (qsizetype sent = 0; sent < line.size();) {
        const ssize_t n = onceReady(fd, POLLOUT, deadline, [&] {
            return ::send(fd, line.constData() + sent, static_cast<size_t>(line.size() - sent),
                          MSG_NOSIGNAL);
        });
        if (n <= 0) {
            return result(Handover::NoAnswer);
        }
        sent += n;
    }
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() < 64) {
        char chunk[64];
        const ssize_t n =
            onceReady(fd, POLLIN, deadline, [&] { return ::recv(fd, chunk, sizeof chunk, 0); });
        if (n <= 0) {
            return result(Handover::NoAnswer);
        }
        answer.append(chunk, n);
    }
    answer = answer.left(answer.indexOf('\n')).trimmed();
    if (answer == kTooLong) {
        return result(Handover::TooLong);
    }
    return result(answer == "OK" ? Handover::Delivered : Handover::NoAnswer);
}

} // namespace lumora
