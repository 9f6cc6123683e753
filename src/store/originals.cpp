#include "store/originals.h"

#include "store/file_io.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace lumora {
namespace {

const QString kChangeMarker = QStringLiteral(".changing");

bool isOriginalName(const QString& name)
{
    if (name.size() != 64) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
    });
}

// Gives the complete bytes the name; an existing file of that name is left
// as it is (it holds the same record's original).
Status linkComplete(const QString& folder, const QString& path, const QByteArray& bytes)
{
    const QByteArray target = QFile::encodeName(path);
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        bool ok = fileio::writeFully(fd, bytes.constData(), bytes.size());
        if (ok) {
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
            ok = ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, target.constData(),
                          AT_SYMLINK_FOLLOW) == 0 ||
                 errno == EEXIST;
        }
        ::close(fd);
        return ok ? Status::success() : Status(StoreError::WriteFailed, path);
    }
    // A file system without unnamed files: a hidden temporary file instead.
    QByteArray temp = QFile::encodeName(QDir(folder).filePath(QStringLiteral(".new-XXXXXX")));
    const int tempFd = ::mkstemp(temp.data());
    if (tempFd < 0) {
        return {StoreError::OpenFailed, path};
    }
    bool ok = fileio::writeFully(tempFd, bytes.constData(), bytes.size());
    ok = ::close(tempFd) == 0 && ok;
    ok = ok && (::link(temp.constData(), target.constData()) == 0 || errno == EEXIST);
    ::unlink(temp.constData());
    return ok ? Status::success() : Status(StoreError::WriteFailed, path);
}

} // namespace

QString Originals::nameFor(QByteArrayView record)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(record.first(std::min(record.size(), kNamedBytes)),
                                 QCryptographicHash::Sha256)
            .toHex());
}

QString Originals::pathFor(QByteArrayView record) const
{
    return QDir(folder_).filePath(nameFor(record));
}

Status Originals::write(QByteArrayView record, const QByteArray& original) const
{
    // The folder is made by begin(). A file of the name already there holds
    // the original of a record of the same content, and stays.
    const QString path = pathFor(record);
    Status status = linkComplete(folder_, path, original);
    if (!status.ok() && !QFileInfo::exists(folder_) && QDir().mkpath(folder_)) {
        status = linkComplete(folder_, path, original);
    }
    return status;
}

// An empty file of the name (what a power cut before the flush may leave)
// counts as none.
std::optional<QByteArray> Originals::read(QByteArrayView record) const
{
    Result<QByteArray> bytes = fileio::readAll(pathFor(record));
    if (!bytes.ok() || bytes.value().isEmpty()) {
        return std::nullopt;
    }
    return std::move(bytes).value();
}

bool Originals::has(QByteArrayView record) const
{
    return QFileInfo(pathFor(record)).size() > 0;
}

QSet<QString> Originals::names() const
{
    QSet<QString> found;
    for (const QString& name : QDir(folder_).entryList(QDir::Files)) {
        if (isOriginalName(name)) {
            found.insert(name);
        }
    }
    return found;
}

int Originals::removeAllBut(const QSet<QString>& keep) const
{
    int removed = 0;
    const QDir dir(folder_);
    for (const QString& name : names()) {
        if (!keep.contains(name) && QFile::remove(dir.filePath(name))) {
            ++removed;
        }
    }
    // Temporary files of a write a crash stopped.
    for (const QString& name :
         dir.entryList({QStringLiteral(".new-*")}, QDir::Files | QDir::Hidden)) {
        QFile::remove(dir.filePath(name));
    }
    return removed;
}

Status Originals::removeIfUnused(QByteArrayView record, const RecordFile& file) const
{
    const QString path = pathFor(record);
    if (!QFileInfo::exists(path)) {
        return Status::success();
    }
    // Only a record that starts like this one can have the same name: the
    // rest of a record is read only for those.
    const QByteArray head =
        record.first(std::min<qsizetype>(record.size(), kHeadBytes)).toByteArray();
    const QString name = nameFor(record);
    QList<qint64> candidates;
    Status status = file.forEachSlice(0, head.size(), [&](qint64 n, const QByteArray& slice) {
        if (slice == head) {
            candidates.append(n);
        }
    });
    if (!status.ok()) {
        return status;
    }
    for (const qint64 n : candidates) {
        const Result<QByteArray> other = file.read(n);
        if (other.ok() && nameFor(other.value()) == name) {
            return Status::success();
        }
    }
    if (!QFile::remove(path)) {
        return {StoreError::WriteFailed, path};
    }
    return Status::success();
}

Status Originals::begin(const RecordFile& file) const
{
    if (!QDir().mkpath(folder_)) {
        return {StoreError::OpenFailed, folder_};
    }
    const QString marker = QDir(folder_).filePath(kChangeMarker);
    if (QFileInfo::exists(marker)) {
        Result<QSet<QString>> keep = originalNames(file);
        if (!keep.ok()) {
            return keep.status();
        }
        removeAllBut(keep.value());
        return Status::success(); // the marker stays for this change
    }
    QFile created(marker);
    if (!created.open(QIODevice::WriteOnly)) {
        return {StoreError::OpenFailed, marker};
    }
    return Status::success();
}

void Originals::end() const
{
    QFile::remove(QDir(folder_).filePath(kChangeMarker));
}

bool Originals::interrupted() const
{
    return QFileInfo::exists(QDir(folder_).filePath(kChangeMarker));
}

Result<QSet<QString>> originalNames(const RecordFile& file)
{
    QSet<QString> names;
    Status status = file.forEach(
        [&names](qint64, const QByteArray& record) { names.insert(Originals::nameFor(record)); });
    if (!status.ok()) {
        return status;
    }
    return names;
}

} // namespace lumora
