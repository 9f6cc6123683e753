#include "app/instance_channel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
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
bool sameUser(const QLocalSocket& socket)
{
    const auto fd = static_cast<int>(socket.socketDescriptor());
    ucred peer{};
    socklen_t length = sizeof peer;
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           length == sizeof peer && peer.uid == ::getuid();
}

} // namespace

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
    if (server_) {
        server_->close(); // removes the socket file
    }
}

bool InstanceChannel::listen()
{
    if (!privateFolder(QFileInfo(path_).absolutePath())) {
        return false;
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(path_);
    if (!server_->listen(path_)) {
        return false;
    }
    // Read and write for the user alone (the execute bits mean nothing here).
    QFile::setPermissions(path_, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    connect(server_, &QLocalServer::newConnection, this, &InstanceChannel::accept);
    return true;
}

void InstanceChannel::accept()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!sameUser(*socket)) {
            socket->abort(); // another user's connection: not a word read
            continue;
        }
        // A connection that says nothing in time is closed.
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
        idle->start(idleMilliseconds_);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { serve(socket); });
        serve(socket); // what arrived with the connection
    }
}

void InstanceChannel::serve(QLocalSocket* socket)
{
    if (socket->state() != QLocalSocket::ConnectedState) {
        return;
    }
    const bool tooLong = socket->canReadLine()
                             ? socket->peek(kMaxRequestBytes + 2).indexOf('\n') < 0
                             : socket->bytesAvailable() > kMaxRequestBytes;
    if (!socket->canReadLine() && !tooLong) {
        return; // the rest is still coming
    }
    QByteArray line;
    if (tooLong) {
        socket->write(kTooLong + '\n');
    } else {
        line = socket->readLine(kMaxRequestBytes + 2).trimmed();
        socket->write("OK\n");
    }
    socket->flush();
    socket->disconnectFromServer();
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
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs)) {
        return Handover::NoAnswer;
    }
    if (!sameUser(socket)) {
        return Handover::NotTheUser;
    }
    socket.write(line + '\n');
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMs)) {
            return Handover::NoAnswer;
        }
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs)) {
            return Handover::NoAnswer;
        }
    }
    const QByteArray answer = socket.readLine().trimmed();
    if (answer == kTooLong) {
        return Handover::TooLong;
    }
    return answer == "OK" ? Handover::Delivered : Handover::NoAnswer;
}

} // namespace lumora
