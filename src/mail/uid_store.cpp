#include "mail/uid_store.h"

#include "store/file_io.h"

#include <QFile>

namespace lumora {

UidStore::UidStore(QString path, QString account)
    : path_(std::move(path)), account_(std::move(account))
{
}

bool UidStore::isUsable(const QString& uid)
{
    if (uid.isEmpty() || uid.size() > 70) {
        return false;
    }
    return std::all_of(uid.begin(), uid.end(),
                       [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7F; });
}

Status UidStore::load(qint64 storedRecords)
{
    file_.close();
    stored_.clear();
    headerWritten_ = false;
    QFile file(path_);
    if (!file.exists()) {
        return Status::success();
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return {StoreError::OpenFailed, path_};
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.isEmpty() ||
        QString::fromUtf8(lines.first()) != QStringLiteral("account ") + account_) {
        return Status::success(); // another account's, or nothing usable
    }
    headerWritten_ = true;
    for (const QByteArray& line : lines.mid(1)) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 2 && fields[0] == "+") {
            stored_.insert(QString::fromLatin1(fields[1]));
        } else if (fields.size() == 3 && fields[0] == "?") {
            bool ok = false;
            const qint64 n = fields[1].toLongLong(&ok);
            if (ok && n >= 1 && n <= storedRecords) {
                stored_.insert(QString::fromLatin1(fields[2]));
            }
        }
    }
    return Status::success();
}

Status UidStore::appendLine(const QByteArray& line)
{
    if (!file_.isOpen()) {
        file_.setFileName(path_);
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
            return {StoreError::OpenFailed, path_};
        }
    }
    QByteArray bytes;
    if (!headerWritten_) {
        file_.resize(0);
        bytes = "account " + account_.toUtf8() + '\n';
    }
    bytes += line + '\n';
    if (file_.write(bytes) != bytes.size()) {
        return {StoreError::WriteFailed, path_};
    }
    headerWritten_ = true;
    return Status::success();
}

Status UidStore::willStore(const QString& uid, qint64 recordNumber)
{
    return appendLine("? " + QByteArray::number(recordNumber) + ' ' + uid.toLatin1());
}

Status UidStore::stored(const QString& uid)
{
    stored_.insert(uid);
    return appendLine("+ " + uid.toLatin1());
}

Status UidStore::keepOnly(const QSet<QString>& onServer)
{
    QSet<QString> kept;
    QByteArray bytes = "account " + account_.toUtf8() + '\n';
    for (const QString& uid : std::as_const(stored_)) {
        if (onServer.contains(uid)) {
            kept.insert(uid);
            bytes += "+ " + uid.toLatin1() + '\n';
        }
    }
    file_.close();
    Status status = fileio::writeAtomically(path_, bytes);
    if (status.ok()) {
        stored_ = kept;
        headerWritten_ = true;
    }
    return status;
}

} // namespace lumora
