#include "store/file_io.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lumora::fileio {
namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Calls move (given the bytes done so far) until size bytes have gone
// through, going on after interruptions; false on an error or an end.
template <class Move> bool transferAll(qsizetype size, Move&& move)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = move(done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += n;
    }
    return true;
}

bool step(const WriteOptions& options, WriteStep s)
{
    return !options.hook || options.hook(s);
}

} // namespace

bool writeFully(int fd, const char* data, qsizetype size)
{
    return transferAll(size, [&](qsizetype done) {
        return ::write(fd, data + done, static_cast<size_t>(size - done));
    });
}

bool sendFully(int fd, const char* data, qsizetype size)
{
    return transferAll(size, [&](qsizetype done) {
        return ::send(fd, data + done, static_cast<size_t>(size - done), MSG_NOSIGNAL);
    });
}

bool readFully(int fd, char* data, qsizetype size)
{
    return transferAll(size, [&](qsizetype done) {
        return ::read(fd, data + done, static_cast<size_t>(size - done));
    });
}

bool writeFullyAt(int fd, const char* data, qsizetype size, off_t offset)
{
    return transferAll(size, [&](qsizetype done) {
        return ::pwrite(fd, data + done, static_cast<size_t>(size - done), offset + done);
    });
}

bool copyRange(int from, off_t fromOffset, int to, off_t toOffset, qint64 size)
{
    bool inKernel = true;
    std::vector<char> buffer;
    while (size > 0) {
        const auto chunk = static_cast<size_t>(std::min<qint64>(size, qint64(1) << 30));
        ssize_t n = -1;
        if (inKernel) {
            loff_t in = fromOffset;
            loff_t out = toOffset;
            n = ::copy_file_range(from, &in, to, &out, chunk, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                          errno == EOPNOTSUPP || errno == EBADF)) {
                inKernel = false; // file systems that cannot: copy by hand
                continue;
            }
        } else {
            buffer.resize(std::min<size_t>(chunk, size_t(1) << 20));
            n = ::pread(from, buffer.data(), buffer.size(), fromOffset);
            if (n > 0) {
                const ssize_t wrote = ::pwrite(to, buffer.data(), static_cast<size_t>(n), toOffset);
                if (wrote < 0) {
                    if (errno == EINTR) {
                        continue;
                    }
                    return false;
                }
                n = wrote;
            }
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            errno = EIO; // the source ended early
            return false;
        }
        fromOffset += n;
        toOffset += n;
        size -= n;
    }
    return true;
}

void syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

Status writeAtomically(const QString& path, const QByteArray& contents, const WriteOptions& options)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    // The temporary name is unique to this process so that two writers never
    // share one; a crash leaves it behind, harmless, beside the real file.
    const QByteArray temp =
        QFile::encodeName(folder + QStringLiteral("/.") + info.fileName() + QStringLiteral(".") +
                          QString::number(::getpid()) + QStringLiteral(".tmp"));

    mode_t mode = 0644;
    struct stat existing {};
    if (::stat(target.constData(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    }
    if (options.ownerOnly) {
        mode = 0600;
    }

    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        return {StoreError::OpenFailed, path + QStringLiteral(": ") + errnoText()};
    }
    // open() applies the umask; set the mode we mean.
    ::fchmod(fd, mode);
    if (!step(options, WriteStep::TempCreated)) {
        ::close(fd);
        return {StoreError::Interrupted, path};
    }
    if (!writeFully(fd, contents.constData(), contents.size())) {
        const QString why = errnoText();
        ::close(fd);
        ::unlink(temp.constData());
        return {StoreError::WriteFailed, path + QStringLiteral(": ") + why};
    }
    if (!step(options, WriteStep::TempWritten)) {
        ::close(fd);
        return {StoreError::Interrupted, path};
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const QString why = errnoText();
        ::unlink(temp.constData());
        return {StoreError::WriteFailed, path + QStringLiteral(": ") + why};
    }
    if (!step(options, WriteStep::TempSynced)) {
        return {StoreError::Interrupted, path};
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const QString why = errnoText();
        ::unlink(temp.constData());
        return {StoreError::WriteFailed, path + QStringLiteral(": ") + why};
    }
    syncFolder(folder);
    if (!step(options, WriteStep::Renamed)) {
        return {StoreError::Interrupted, path};
    }
    return Status::success();
}

Result<QByteArray> readAll(const QString& path)
{
    QFile file(path);
    if (!file.exists()) {
        return Status{StoreError::NotFound, path};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return Status{StoreError::OpenFailed, path + QStringLiteral(": ") + file.errorString()};
    }
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return Status{StoreError::ReadFailed, path + QStringLiteral(": ") + file.errorString()};
    }
    return data;
}

Result<QByteArray> readPlainFile(const QString& path, qint64 maxBytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Status{errno == ENOENT ? StoreError::NotFound : StoreError::OpenFailed,
                      QStringLiteral("%1 を読み取れません。").arg(path)};
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Status{StoreError::BadArgument, QStringLiteral("%1 は通常のファイルではありません"
                                                              "（パイプ、装置、ソケットなど）。")
                                                   .arg(path)};
    }
    if (st.st_size > maxBytes) {
        ::close(fd);
        return Status{
            StoreError::Full,
            QStringLiteral("%1 は大きすぎます（%2 MB まで）。").arg(path).arg(maxBytes >> 20)};
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Status{StoreError::OpenFailed, QStringLiteral("%1 を読み取れません。").arg(path)};
    }
    QByteArray data = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError || data.size() > maxBytes) {
        return Status{StoreError::ReadFailed, QStringLiteral("%1 を読み取れません。").arg(path)};
    }
    return data;
}

bool syncFileSystem(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::syncfs(fd) == 0;
    ::close(fd);
    return ok;
}

bool syncFileSystems(const QStringList& paths)
{
    std::vector<dev_t> flushed;
    bool ok = true;
    for (const QString& path : paths) {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
            ok = false;
            continue;
        }
        // A flush costs the disk a cache flush even with nothing to write.
        if (std::find(flushed.begin(), flushed.end(), st.st_dev) != flushed.end()) {
            continue;
        }
        flushed.push_back(st.st_dev);
        ok = syncFileSystem(path) && ok;
    }
    return ok;
}

FlushAhead::FlushAhead(QStringList folders) : folders_(std::move(folders))
{
    thread_ = std::thread([this] { run(); });
}

FlushAhead::~FlushAhead()
{
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wanted_.notify_all();
    thread_.join();
}

void FlushAhead::wrote(qint64 bytes)
{
    {
        const std::lock_guard lock(mutex_);
        unflushed_ += bytes;
        if (unflushed_ < kStepBytes) {
            return;
        }
        unflushed_ = 0;
        asked_ = true;
    }
    wanted_.notify_all();
}

int FlushAhead::flushes() const
{
    const std::lock_guard lock(mutex_);
    return flushes_;
}

void FlushAhead::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wanted_.wait(lock, [this] { return asked_ || closing_; });
        if (closing_) {
            return;
        }
        asked_ = false;
        ++flushes_;
        lock.unlock();
        (void)syncFileSystems(folders_);
        lock.lock();
    }
}

} // namespace lumora::fileio
