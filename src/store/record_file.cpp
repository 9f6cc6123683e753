#include "store/record_file.h"

#include "store/file_io.h"
#include "store/numeric_text.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {
namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QByteArray nativePath(const QString& path)
{
    return QFile::encodeName(path);
}

qint64 fileLength(const QString& path)
{
    struct stat st {};
    return ::stat(nativePath(path).constData(), &st) == 0 ? static_cast<qint64>(st.st_size) : 0;
}

// How much a compaction copies before it starts writing that part to disk.
constexpr qint64 kFlushPiece = qint64(8) << 20;

bool step(const CompactHook& hook, CompactStep s)
{
    return !hook || hook(s);
}

} // namespace

qint16 readInt16(const QByteArray& record, qsizetype offset)
{
    if (offset < 0 || offset + 2 > record.size()) {
        return 0;
    }
    const auto lo = static_cast<quint16>(static_cast<unsigned char>(record[offset]));
    const auto hi = static_cast<quint16>(static_cast<unsigned char>(record[offset + 1]));
    return static_cast<qint16>(static_cast<quint16>(lo | (hi << 8)));
}

void writeInt16(QByteArray& record, qsizetype offset, qint16 value)
{
    if (offset < 0 || offset + 2 > record.size()) {
        return;
    }
    const auto u = static_cast<quint16>(value);
    record[offset] = static_cast<char>(u & 0xFF);
    record[offset + 1] = static_cast<char>(u >> 8);
}

Status RecordFile::ensureExists() const
{
    const int fd = ::open(nativePath(path_).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return {StoreError::OpenFailed, path_ + QStringLiteral(": ") + errnoText()};
    }
    ::close(fd);
    return Status::success();
}

qint64 RecordFile::roundedCount() const
{
    const double ratio =
        static_cast<double>(fileLength(path_)) / static_cast<double>(layout_.length);
    return static_cast<qint64>(text::roundHalfEven(ratio));
}

qint64 RecordFile::wholeCount() const
{
    return fileLength(path_) / layout_.length;
}

Result<QByteArray> RecordFile::read(qint64 n) const
{
    if (n < 1) {
        return Status{StoreError::BadArgument, QStringLiteral("record %1").arg(n)};
    }
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        return Status{file.exists() ? StoreError::OpenFailed : StoreError::NotFound,
                      path_ + QStringLiteral(": ") + file.errorString()};
    }
    const qint64 offset = (n - 1) * layout_.length;
    if (offset + layout_.length > file.size()) {
        return Status{StoreError::EndOfFile, path_};
    }
    if (!file.seek(offset)) {
        return Status{StoreError::ReadFailed, path_ + QStringLiteral(": ") + file.errorString()};
    }
    QByteArray record = file.read(layout_.length);
    if (record.size() != layout_.length) {
        return Status{StoreError::ReadFailed, path_ + QStringLiteral(": short read")};
    }
    return record;
}

Status RecordFile::forEach(const std::function<void(qint64, const QByteArray&)>& visit) const
{
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!file.exists()) {
            return Status::success();
        }
        return Status{StoreError::OpenFailed, path_ + QStringLiteral(": ") + file.errorString()};
    }
    for (qint64 n = 1;; ++n) {
        const QByteArray record = file.read(layout_.length);
        if (record.size() < layout_.length) {
            if (file.error() != QFileDevice::NoError) {
                return Status{StoreError::ReadFailed,
                              path_ + QStringLiteral(": ") + file.errorString()};
            }
            return Status::success();
        }
        visit(n, record);
    }
}

Status RecordFile::forEachSlice(qsizetype offset, qsizetype width,
                                const std::function<void(qint64, const QByteArray&)>& visit) const
{
    if (offset < 0 || width < 0 || offset + width > layout_.length) {
        return Status{StoreError::BadArgument,
                      QStringLiteral("slice %1+%2").arg(offset).arg(width)};
    }
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        if (!file.exists()) {
            return Status::success();
        }
        return Status{StoreError::OpenFailed, path_ + QStringLiteral(": ") + file.errorString()};
    }
    const qint64 count = file.size() / layout_.length;
    for (qint64 n = 1; n <= count; ++n) {
        QByteArray slice;
        if (!file.seek((n - 1) * layout_.length + offset) ||
            (slice = file.read(width)).size() != width) {
            return Status{StoreError::ReadFailed,
                          path_ + QStringLiteral(": ") + file.errorString()};
        }
        visit(n, slice);
    }
    return Status::success();
}

Status RecordFile::write(qint64 n, const QByteArray& record, Flush flush) const
{
    if (n < 1 || record.size() != layout_.length) {
        return {StoreError::BadArgument,
                QStringLiteral("record %1 of %2 bytes").arg(n).arg(record.size())};
    }
    const int fd = ::open(nativePath(path_).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return {StoreError::OpenFailed, path_ + QStringLiteral(": ") + errnoText()};
    }
    const auto offset = static_cast<off_t>((n - 1) * layout_.length);
    if (!fileio::writeFullyAt(fd, record.constData(), record.size(), offset) ||
        (flush == Flush::Now && ::fsync(fd) != 0)) {
        const QString why = errnoText();
        ::close(fd);
        return {StoreError::WriteFailed, path_ + QStringLiteral(": ") + why};
    }
    if (::close(fd) != 0) {
        return {StoreError::WriteFailed, path_ + QStringLiteral(": ") + errnoText()};
    }
    return Status::success();
}

Result<bool> RecordFile::dropPartialTail() const
{
    const qint64 length = fileLength(path_);
    const qint64 whole = length / layout_.length * layout_.length;
    if (whole == length) {
        return false;
    }
    if (::truncate(nativePath(path_).constData(), static_cast<off_t>(whole)) != 0) {
        return Status{StoreError::WriteFailed, path_ + QStringLiteral(": ") + errnoText()};
    }
    return true;
}

qint64 RecordFile::appendNumber() const
{
    const double ratio =
        static_cast<double>(fileLength(path_)) / static_cast<double>(layout_.length) + 1.0;
    return static_cast<qint64>(text::roundHalfEven(ratio));
}

Result<qint64> RecordFile::append(const QByteArray& record, Flush flush) const
{
    const qint64 n = appendNumber();
    Status status = write(n, record, flush);
    if (!status.ok()) {
        return status;
    }
    return n;
}

Status RecordFile::compact(const QString& tempPath, const CompactHook& hook) const
{
    const int source = ::open(nativePath(path_).constData(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        return {errno == ENOENT ? StoreError::NotFound : StoreError::OpenFailed,
                path_ + QStringLiteral(": ") + errnoText()};
    }
    struct stat st {};
    if (::fstat(source, &st) != 0) {
        const QString why = errnoText();
        ::close(source);
        return {StoreError::ReadFailed, path_ + QStringLiteral(": ") + why};
    }
    const int fd =
        ::open(nativePath(tempPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        const QString why = errnoText();
        ::close(source);
        return {StoreError::OpenFailed, tempPath + QStringLiteral(": ") + why};
    }
    const auto fail = [&](StoreError error, const QString& what) -> Status {
        ::close(source);
        ::close(fd);
        ::unlink(nativePath(tempPath).constData());
        return {error, what};
    };
    const auto interrupted = [&]() -> Status {
        ::close(source);
        ::close(fd);
        return {StoreError::Interrupted, path_};
    };

    // Only the flags are read; the live records are copied in runs by the
    // kernel, so a deletion costs about as much as copying the file once.
    // With a hook every record is a run of its own, so a test can stop the
    // compaction after any record.
    const qint64 length = layout_.length;
    const qint64 whole = static_cast<qint64>(st.st_size) / length;
    int flagError = 0;
    const auto live = [&](qint64 index) {
        char flag[2] = {0, 0};
        const off_t at = static_cast<off_t>(index * length + layout_.flagOffset);
        if (::pread(source, flag, 2, at) != 2) {
            flagError = errno != 0 ? errno : EIO;
            return false;
        }
        return flag[0] != 0 || flag[1] != 0;
    };
    off_t written = 0;
    for (qint64 n = 0; n < whole;) {
        if (!live(n)) {
            if (flagError != 0) {
                errno = flagError;
                return fail(StoreError::ReadFailed, path_ + QStringLiteral(": ") + errnoText());
            }
            ++n;
            continue;
        }
        qint64 end = n + 1;
        while (!hook && end < whole && live(end)) {
            ++end;
        }
        if (flagError != 0) {
            errno = flagError;
            return fail(StoreError::ReadFailed, path_ + QStringLiteral(": ") + errnoText());
        }
        // In pieces, each handed to the disk as soon as it is copied, so that
        // writing to disk goes on while the rest is copied and the flush at
        // the end has little left to wait for.
        const auto bytes = static_cast<qint64>((end - n) * length);
        for (qint64 done = 0; done < bytes;) {
            const qint64 piece = std::min<qint64>(bytes - done, kFlushPiece);
            if (!fileio::copyRange(source, static_cast<off_t>(n * length + done), fd, written,
                                   piece)) {
                return fail(StoreError::WriteFailed, tempPath + QStringLiteral(": ") + errnoText());
            }
            ::sync_file_range(fd, written, piece, SYNC_FILE_RANGE_WRITE);
            written += static_cast<off_t>(piece);
            done += piece;
        }
        n = end;
        if (!step(hook, CompactStep::TempRecord)) {
            return interrupted();
        }
    }
    ::close(source);
    if (!step(hook, CompactStep::TempWritten)) {
        ::close(fd);
        return {StoreError::Interrupted, path_};
    }
    if (::fsync(fd) != 0) {
        const QString why = errnoText();
        ::close(fd);
        ::unlink(nativePath(tempPath).constData());
        return {StoreError::WriteFailed, tempPath + QStringLiteral(": ") + why};
    }
    if (::close(fd) != 0) {
        ::unlink(nativePath(tempPath).constData());
        return {StoreError::WriteFailed, tempPath + QStringLiteral(": ") + errnoText()};
    }
    if (!step(hook, CompactStep::TempSynced)) {
        return {StoreError::Interrupted, path_};
    }
    if (::rename(nativePath(tempPath).constData(), nativePath(path_).constData()) != 0) {
        const QString why = errnoText();
        ::unlink(nativePath(tempPath).constData());
        return {StoreError::WriteFailed, path_ + QStringLiteral(": ") + why};
    }
    fileio::syncFolder(QFileInfo(path_).absolutePath());
    if (!step(hook, CompactStep::Replaced)) {
        return {StoreError::Interrupted, path_};
    }
    return Status::success();
}

Result<RecordFile::Recovery> RecordFile::recover(const QString& tempPath) const
{
    const QFileInfo temp(tempPath);
    if (!temp.exists()) {
        return Recovery{};
    }
    const QFileInfo data(path_);
    const bool dataChosen = data.exists() && data.size() >= temp.size();
    const QString& other = dataChosen ? tempPath : path_;
    Recovery recovery{true, {}};
    if (QFileInfo(other).exists() && QFileInfo(other).size() >= layout_.length) {
        // Set aside, not deleted: "krddata2.data.kept". One copy at most,
        // the latest (a file of a gigabyte is not kept over and over); a
        // later compaction that succeeds removes it.
        const QString kept = path_ + QStringLiteral(".kept");
        if (::rename(nativePath(other).constData(), nativePath(kept).constData()) != 0) {
            return Status{StoreError::WriteFailed, other + QStringLiteral(": ") + errnoText()};
        }
        recovery.keptFile = kept;
    } else if (dataChosen && ::unlink(nativePath(tempPath).constData()) != 0) {
        return Status{StoreError::WriteFailed, tempPath + QStringLiteral(": ") + errnoText()};
    }
    if (!dataChosen &&
        ::rename(nativePath(tempPath).constData(), nativePath(path_).constData()) != 0) {
        return Status{StoreError::WriteFailed, path_ + QStringLiteral(": ") + errnoText()};
    }
    fileio::syncFolder(data.absolutePath());
    return recovery;
}

} // namespace lumora
