#include "app/instance_channel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

namespace lumora {
namespace {

constexpr qint64 kMaxRequestBytes = 64 * 1024; // a link is never this long
const QByteArray kRaise = "RAISE";
const QByteArray kMailto = "MAILTO ";

} // namespace

QString InstanceChannel::socketPath(const QString& runtimeFolder, const QString& appFolder)
{
    const QString folder = runtimeFolder.isEmpty() ? QDir::tempPath() : runtimeFolder;
    // One socket per application folder, as there is one lock per folder.
    const QByteArray key = QCryptographicHash::hash(
        QFileInfo(appFolder).absoluteFilePath().toUtf8(), QCryptographicHash::Sha256);
    return folder + QStringLiteral("/lumora-") + QString::fromLatin1(key.toHex().left(16)) +
           QStringLiteral(".socket");
}

InstanceChannel::InstanceChannel(QString path, QObject* parent)
    : QObject(parent), path_(std::move(path))
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
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { serve(socket); });
        serve(socket); // what arrived with the connection
    }
}

void InstanceChannel::serve(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequestBytes) {
            socket->abort();
        }
        return;
    }
    const QByteArray line = socket->readLine(kMaxRequestBytes).trimmed();
    socket->write("OK\n");
    socket->flush();
    socket->disconnectFromServer();
    if (line == kRaise) {
        Q_EMIT raiseRequested();
    } else if (line.startsWith(kMailto)) {
        Q_EMIT linkReceived(QString::fromUtf8(line.mid(kMailto.size())));
    }
}

bool InstanceChannel::send(const QString& path, const QString& link, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    QByteArray line = link.isEmpty() ? kRaise : kMailto + link.toUtf8();
    // A link is one line; a line break inside it would end the request early.
    line.replace('\r', "%0D").replace('\n', "%0A");
    socket.write(line + '\n');
    if (!socket.waitForBytesWritten(timeoutMs)) {
        return false;
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs)) {
            return false;
        }
    }
    return socket.readLine().trimmed() == "OK";
}

} // namespace lumora
