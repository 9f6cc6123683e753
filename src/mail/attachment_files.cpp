#include "mail/attachment_files.h"

#include "store/file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lumora::attachments {
namespace {

constexpr qsizetype kMaxNameBytes = 200;

bool isDeviceName(const QString& base)
{
    const QString upper = base.toUpper();
    static const QStringList names = {QStringLiteral("CON"), QStringLiteral("PRN"),
                                      QStringLiteral("AUX"), QStringLiteral("NUL")};
    if (names.contains(upper)) {
        return true;
    }
    return upper.size() == 4 &&
           (upper.startsWith(QStringLiteral("COM")) || upper.startsWith(QStringLiteral("LPT"))) &&
           upper[3] >= QLatin1Char('1') && upper[3] <= QLatin1Char('9');
}

// Cuts text to at most maxBytes of UTF-8 without splitting a character.
QString cutUtf8(const QString& text, qsizetype maxBytes)
{
    QString out;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size();
        const QString c = pair ? text.mid(i, 2) : text.mid(i, 1);
        const qsizetype n = c.toUtf8().size();
        if (bytes + n > maxBytes) {
            break;
        }
        out += c;
        bytes += n;
        i += pair ? 1 : 0;
    }
    return out;
}

std::pair<QString, QString> splitExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || name.size() - dot > 16) {
        return {name, {}};
    }
    return {name.left(dot), name.mid(dot)};
}

} // namespace

QString safeFileName(const QString& name)
{
    QString last = name;
    const qsizetype slash =
        std::max(last.lastIndexOf(QLatin1Char('/')), last.lastIndexOf(QLatin1Char('\\')));
    if (slash >= 0) {
        last = last.mid(slash + 1);
    }
    QString clean;
    for (const QChar c : last) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || QStringLiteral(":*?\"<>|").contains(c)) {
            clean += QLatin1Char('_');
        } else {
            clean += c;
        }
    }
    // Leading and trailing dots and spaces: "..", ".hidden", "name. "
    while (!clean.isEmpty() && (clean.front() == QLatin1Char('.') || clean.front().isSpace())) {
        clean.remove(0, 1);
    }
    while (!clean.isEmpty() && (clean.back() == QLatin1Char('.') || clean.back().isSpace())) {
        clean.chop(1);
    }
    if (clean.isEmpty()) {
        clean = QStringLiteral("添付ファイル");
    }
    auto [base, extension] = splitExtension(clean);
    if (isDeviceName(base)) {
        base = QLatin1Char('_') + base;
    }
    const qsizetype extensionBytes = extension.toUtf8().size();
    if (base.toUtf8().size() + extensionBytes > kMaxNameBytes) {
        base = cutUtf8(base, kMaxNameBytes - extensionBytes);
    }
    return base + extension;
}

namespace {

bool writeFully(int fd, const QByteArray& data)
{
    return fileio::writeFully(fd, data.constData(), data.size());
}

// Where the search for a free "name (n).ext" starts for a name already
// taken: just after the last one given, so that many files of one name do
// not each test every earlier number.
std::mutex hintsMutex;
QHash<QString, int> nextNumbers;

// Gives the complete file its name: "name.ext", else the first free of
// "name (2).ext", "name (3).ext" ... from the last one given. link() never
// replaces an existing file.
Result<QString> nameFile(const QString& folder, const QString& name,
                         const std::function<int(const QByteArray&)>& link)
{
    const auto [base, extension] = splitExtension(safeFileName(name));
    const QString key = folder + QLatin1Char('\n') + base + extension;
    int n = 1;
    for (int tries = 0; tries < 100000; ++tries) {
        const QString candidate =
            n == 1 ? base + extension : QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(extension);
        const QString path = QDir(folder).filePath(candidate);
        if (link(QFile::encodeName(path)) == 0) {
            if (n > 1) {
                std::lock_guard lock(hintsMutex);
                nextNumbers.insert(key, n + 1);
            }
            return path;
        }
        if (errno != EEXIST) {
            break;
        }
        if (n == 1) {
            std::lock_guard lock(hintsMutex);
            n = std::max(2, nextNumbers.value(key, 2));
        } else {
            ++n;
        }
    }
    return Status(StoreError::OpenFailed, QDir(folder).filePath(name));
}

} // namespace

Result<QString> writeNew(const QString& folder, const QString& name, const QByteArray& data)
{
    // The bytes go into a file without a name first and get one only when
    // complete, so a crash never leaves half a file under the name.
    const QByteArray nativeFolder = QFile::encodeName(folder);
    int fd = FilesAhead::take(folder);
    if (fd < 0) {
        fd = ::open(nativeFolder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    }
    if (fd >= 0) {
        const bool ok = writeFully(fd, data);
        Result<QString> named =
            ok ? nameFile(folder, name,
                          [fd](const QByteArray& path) {
                              const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
                              return ::linkat(AT_FDCWD, self.constData(), AT_FDCWD,
                                              path.constData(), AT_SYMLINK_FOLLOW);
                          })
               : Result<QString>(Status(StoreError::WriteFailed, folder));
        ::close(fd);
        return named;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return Status(StoreError::OpenFailed, QDir(folder).filePath(name));
    }
    // A file system without unnamed files: a hidden temporary file instead.
    QByteArray temp =
        QFile::encodeName(QDir(folder).filePath(QStringLiteral(".lumora-XXXXXX.part")));
    const int tempFd = ::mkstemps(temp.data(), 5);
    if (tempFd < 0) {
        return Status(StoreError::OpenFailed, QDir(folder).filePath(name));
    }
    ::fchmod(tempFd, 0644);
    const bool ok = writeFully(tempFd, data);
    if (::close(tempFd) != 0 || !ok) {
        ::unlink(temp.constData());
        return Status(StoreError::WriteFailed, QDir(folder).filePath(name));
    }
    Result<QString> named = nameFile(folder, name, [&temp](const QByteArray& path) {
        return ::link(temp.constData(), path.constData());
    });
    ::unlink(temp.constData());
    return named;
}

Result<QString> moveNew(const QString& folder, const QString& name, const QString& path)
{
    const QByteArray source = QFile::encodeName(path);
    Result<QString> named = nameFile(folder, name, [&source](const QByteArray& target) {
        return ::link(source.constData(), target.constData());
    });
    if (named.ok()) {
        ::unlink(source.constData());
    }
    return named;
}

namespace {

constexpr std::size_t kFilesAhead = 8;

std::mutex aheadMutex;
std::vector<std::pair<QByteArray, FilesAhead*>> aheads; // by folder

QByteArray folderKey(const QString& folder)
{
    QByteArray key = QFile::encodeName(folder);
    while (key.size() > 1 && key.endsWith('/')) {
        key.chop(1);
    }
    return key;
}

} // namespace

FilesAhead::FilesAhead(const QString& folder) : folder_(folderKey(folder))
{
    {
        std::lock_guard lock(aheadMutex);
        aheads.emplace_back(folder_, this);
    }
    thread_ = std::thread([this] { run(); });
}

FilesAhead::~FilesAhead()
{
    {
        std::lock_guard lock(aheadMutex);
        std::erase_if(aheads, [this](const auto& entry) { return entry.second == this; });
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
    for (const int fd : ready_) {
        ::close(fd);
    }
}

int FilesAhead::take(const QString& folder)
{
    const QByteArray key = folderKey(folder);
    std::lock_guard lock(aheadMutex);
    for (const auto& [aheadFolder, ahead] : aheads) {
        if (aheadFolder == key) {
            std::lock_guard own(ahead->mutex_);
            ahead->asked_ = true;
            if (ahead->ready_.empty()) {
                ahead->changed_.notify_all();
                return -1;
            }
            const int fd = ahead->ready_.front();
            ahead->ready_.pop_front();
            // Woken for several at once: each wake-up takes the processor
            // from the decoding that asked.
            if (ahead->ready_.size() <= kFilesAhead / 2) {
                ahead->changed_.notify_all();
            }
            return fd;
        }
    }
    return -1;
}

void FilesAhead::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock,
                      [this] { return stopping_ || (asked_ && ready_.size() < kFilesAhead); });
        if (stopping_) {
            return;
        }
        lock.unlock();
        const int fd = ::open(folder_.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
        lock.lock();
        if (fd < 0) {
            return; // writeNew() makes its own, and says why it cannot
        }
        ready_.push_back(fd);
    }
}

void removeLeftovers(const QString& folder)
{
    // Matched by hand: a wildcard filter would have Qt compile a regular
    // expression at every receive.
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
        if (name.startsWith(QLatin1StringView(".lumora-")) &&
            name.endsWith(QLatin1StringView(".part"))) {
            QFile::remove(dir.filePath(name));
        }
    }
}

} // namespace lumora::attachments
