#include "store/original_packs.h"

#include "store/file_io.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>

// The digest's own calls, not the EVP ones: the first EVP digest loads
// OpenSSL's providers, 2 MiB that a program on plain POP3 would keep for
// nothing. Both run the same code, with the processor's SHA instructions
// where there are some (a tenth of the time of Qt's hash).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora::packs {
namespace {

constexpr char kKept[] = "LUMORIG1";
constexpr char kRemoved[] = "LUMDEAD1";
constexpr qsizetype kMagicBytes = 8;
constexpr qsizetype kKeyBytes = 32;
constexpr qint64 kSearchChunk = 1 << 20;

// What the heads of one pack say, as far as it has been read.
struct Index {
    qint64 scanned = 0;             // the file's size when it was read
    struct timespec changed {};     // and its time of change
    qint64 end = 0;                 // the end of the last whole entry
    QHash<QByteArray, qint64> kept; // content key: its (last) head's offset
    QList<qint64> superseded;       // kept heads of a key written again later
};

// The packs of a folder, listed again when the folder changes.
struct Listing {
    struct timespec changed {};
    QList<int> numbers; // ascending
};

struct State {
    std::mutex mutex;
    QHash<QString, Index> indexes;    // by pack path
    QHash<QString, Listing> listings; // by folder
};

State& state()
{
    static State instance;
    return instance;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

QString packPath(const QString& folder, int number)
{
    return QDir(folder).filePath(QStringLiteral("pack-%1").arg(number, 6, 10, QLatin1Char('0')));
}

int packNumber(const QString& name)
{
    if (!isPackName(name)) {
        return 0;
    }
    return name.mid(5).toInt();
}

struct FileState {
    qint64 size = -1;
    struct timespec changed {};
};

FileState stateOf(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return {};
    }
    return {static_cast<qint64>(st.st_size), st.st_mtim};
}

qint64 lengthIn(const char* head)
{
    quint64 length = 0;
    for (int i = 7; i >= 0; --i) {
        length = (length << 8) | static_cast<unsigned char>(head[kMagicBytes + i]);
    }
    return length > static_cast<quint64>(kPackBytes) * 64 ? -1 : static_cast<qint64>(length);
}

QByteArray headOf(const char* magic, QByteArrayView key, qint64 length)
{
    QByteArray head(magic, kMagicBytes);
    for (int i = 0; i < 8; ++i) {
        head += static_cast<char>((static_cast<quint64>(length) >> (8 * i)) & 0xff);
    }
    head += key.toByteArray().leftJustified(kKeyBytes, '\0', true);
    return head;
}

bool readAt(int fd, char* data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t got = ::pread(fd, data, static_cast<size_t>(size), offset);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return false;
        }
        data += got;
        size -= got;
        offset += got;
    }
    return true;
}

// The offset of the next head at or after from, or -1: past bytes a crash
// left unwritten.
qint64 nextHead(int fd, qint64 from, qint64 size)
{
    QByteArray chunk;
    while (from + kHeadBytes <= size) {
        const qint64 length = std::min(kSearchChunk, size - from);
        chunk.resize(length);
        if (!readAt(fd, chunk.data(), length, from)) {
            return -1;
        }
        const qsizetype kept = chunk.indexOf(QByteArrayView(kKept, kMagicBytes));
        const qsizetype removed = chunk.indexOf(QByteArrayView(kRemoved, kMagicBytes));
        qsizetype found = kept < 0 ? removed : (removed < 0 ? kept : std::min(kept, removed));
        if (found >= 0) {
            return from + found;
        }
        if (from + length >= size) {
            return -1;
        }
        from += length - (kMagicBytes - 1); // a magic across the chunks' edge
    }
    return -1;
}

// Reads the heads the index has not seen yet. A pack only grows, but for
// what a crash left; one cut short or rewritten is read afresh.
void scan(int fd, const FileState& file, Index& index)
{
    const qint64 size = file.size;
    const bool same = file.changed.tv_sec == index.changed.tv_sec &&
                      file.changed.tv_nsec == index.changed.tv_nsec;
    if (size < index.scanned || size < index.end || (size == index.scanned && !same)) {
        index = Index{};
    }
    index.changed = file.changed;
    if (size == index.scanned) {
        return;
    }
    qint64 at = index.end;
    char head[kHeadBytes];
    while (at + kHeadBytes <= size && readAt(fd, head, kHeadBytes, at)) {
        const bool kept = std::memcmp(head, kKept, kMagicBytes) == 0;
        const bool removed = !kept && std::memcmp(head, kRemoved, kMagicBytes) == 0;
        const qint64 length = lengthIn(head);
        if ((kept || removed) && length >= 0 && length <= size - at - kHeadBytes) {
            if (kept) {
                const QByteArray key(head + 16, kKeyBytes);
                if (const qint64 before = index.kept.value(key, -1); before >= 0) {
                    index.superseded.append(before);
                }
                index.kept.insert(key, at);
            }
            at += kHeadBytes + length;
            index.end = at;
            continue;
        }
        // Not a whole entry: the next head past it, if there is one.
        at = nextHead(fd, at + 1, size);
        if (at < 0) {
            break;
        }
    }
    index.scanned = size;
}

// The folder's pack numbers, ascending; the listing is read again only when
// the folder has changed.
QList<int> packNumbers(const QString& folder, State& s)
{
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0) {
        s.listings.remove(folder);
        return {};
    }
    auto found = s.listings.find(folder);
    if (found != s.listings.end() && found->changed.tv_sec == st.st_mtim.tv_sec &&
        found->changed.tv_nsec == st.st_mtim.tv_nsec) {
        return found->numbers;
    }
    Listing listing;
    listing.changed = st.st_mtim;
    // Every name, told apart by packNumber(): a wildcard filter would have
    // Qt compile a regular expression for each listing.
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (const int number = packNumber(name); number > 0) {
            listing.numbers.append(number);
        }
    }
    std::sort(listing.numbers.begin(), listing.numbers.end());
    s.listings.insert(folder, listing);
    return listing.numbers;
}

// The index of a pack, brought up to date; the last pack may grow, the
// others only by another process.
Index* indexOf(const QString& path, bool last, State& s)
{
    auto found = s.indexes.find(path);
    if (found != s.indexes.end() && !last) {
        return &*found;
    }
    const Fd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        s.indexes.remove(path);
        return nullptr;
    }
    Index& index = s.indexes[path];
    scan(fd.get(), stateOf(fd.get()), index);
    return &index;
}

std::optional<QByteArray> readEntry(const QString& path, qint64 offset, QByteArrayView key)
{
    const Fd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    char head[kHeadBytes];
    if (fd.get() < 0 || !readAt(fd.get(), head, kHeadBytes, offset) ||
        std::memcmp(head, kKept, kMagicBytes) != 0 || QByteArrayView(head + 16, kKeyBytes) != key) {
        return std::nullopt;
    }
    const qint64 length = lengthIn(head);
    if (length < 0 || offset + kHeadBytes + length > stateOf(fd.get()).size) {
        return std::nullopt;
    }
    QByteArray bytes(length, Qt::Uninitialized);
    if (!readAt(fd.get(), bytes.data(), length, offset + kHeadBytes)) {
        return std::nullopt;
    }
    if (sha256(bytes) != key) {
        return std::nullopt; // bytes a crash left unwritten
    }
    return bytes;
}

// Marks the entry at offset removed and frees its bytes.
bool removeEntry(int fd, qint64 offset)
{
    char head[kHeadBytes];
    if (!readAt(fd, head, kHeadBytes, offset)) {
        return false;
    }
    const qint64 length = lengthIn(head);
    if (!fileio::writeFullyAt(fd, kRemoved, kMagicBytes, offset)) {
        return false;
    }
    if (length <= 0 || ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                                   offset + kHeadBytes, length) == 0) {
        return true;
    }
    // No holes in this file system: the bytes are overwritten instead.
    const QByteArray zeros(static_cast<qsizetype>(std::min<qint64>(length, kSearchChunk)), '\0');
    for (qint64 done = 0; done < length; done += zeros.size()) {
        if (!fileio::writeFullyAt(fd, zeros.constData(),
                                  std::min<qint64>(zeros.size(), length - done),
                                  offset + kHeadBytes + done)) {
            return false;
        }
    }
    return true;
}

} // namespace

QByteArray sha256(QByteArrayView bytes)
{
    SHA256_CTX context;
    SHA256_Init(&context);
    SHA256_Update(&context, bytes.data(), static_cast<size_t>(bytes.size()));
    QByteArray digest(SHA256_DIGEST_LENGTH, Qt::Uninitialized);
    SHA256_Final(reinterpret_cast<unsigned char*>(digest.data()), &context);
    return digest;
}

bool isPackName(const QString& name)
{
    return name.size() == 11 && name.startsWith(QLatin1String("pack-")) &&
           std::all_of(name.begin() + 5, name.end(), [](QChar c) { return c.isDigit(); });
}

Status append(const QString& folder, QByteArrayView key, const QByteArray& bytes)
{
    State& s = state();
    const std::lock_guard lock(s.mutex);
    const QList<int> numbers = packNumbers(folder, s);
    int number = numbers.isEmpty() ? 1 : numbers.last();
    for (;;) {
        const QString path = packPath(folder, number);
        const Fd fd(
            ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            return {StoreError::OpenFailed, path};
        }
        const FileState file = stateOf(fd.get());
        const qint64 size = file.size;
        if (size < 0) {
            return {StoreError::ReadFailed, path};
        }
        Index& index = s.indexes[path];
        scan(fd.get(), file, index);
        if (index.end > 0 && index.end + kHeadBytes + bytes.size() > kPackBytes) {
            ++number;
            continue;
        }
        if (!numbers.contains(number)) {
            // Made now: listed without reading the folder again.
            Listing& listing = s.listings[folder];
            if (!listing.numbers.contains(number)) {
                listing.numbers.append(number);
            }
        }
        // An entry a crash cut short goes; then the new one is written.
        const QByteArray head = headOf(kKept, key, bytes.size());
        const bool ok = (size == index.end || ::ftruncate(fd.get(), index.end) == 0) &&
                        fileio::writeFullyAt(fd.get(), head.constData(), head.size(), index.end) &&
                        fileio::writeFullyAt(fd.get(), bytes.constData(), bytes.size(),
                                             index.end + head.size());
        if (!ok) {
            (void)::ftruncate(fd.get(), index.end);
            index.scanned = index.end;
            return {StoreError::WriteFailed, path};
        }
        const QByteArray keyBytes = key.toByteArray();
        if (const qint64 before = index.kept.value(keyBytes, -1); before >= 0) {
            index.superseded.append(before);
        }
        index.kept.insert(keyBytes, index.end);
        index.end += head.size() + bytes.size();
        index.scanned = index.end;
        index.changed = stateOf(fd.get()).changed;
        return Status::success();
    }
}

std::optional<QByteArray> read(const QString& folder, QByteArrayView key)
{
    State& s = state();
    const QByteArray wanted = key.toByteArray();
    QList<std::pair<QString, qint64>> places;
    {
        const std::lock_guard lock(s.mutex);
        const QList<int> numbers = packNumbers(folder, s);
        for (qsizetype i = numbers.size() - 1; i >= 0; --i) {
            const QString path = packPath(folder, numbers[i]);
            if (const Index* index = indexOf(path, i == numbers.size() - 1, s)) {
                if (const qint64 at = index->kept.value(wanted, -1); at >= 0) {
                    places.append({path, at});
                }
            }
        }
    }
    for (const auto& [path, at] : places) {
        if (std::optional<QByteArray> bytes = readEntry(path, at, key)) {
            return bytes;
        }
    }
    return std::nullopt;
}

bool has(const QString& folder, QByteArrayView key)
{
    State& s = state();
    const QByteArray wanted = key.toByteArray();
    const std::lock_guard lock(s.mutex);
    const QList<int> numbers = packNumbers(folder, s);
    for (qsizetype i = numbers.size() - 1; i >= 0; --i) {
        const Index* index = indexOf(packPath(folder, numbers[i]), i == numbers.size() - 1, s);
        if (index && index->kept.contains(wanted)) {
            return true;
        }
    }
    return false;
}

QSet<QByteArray> keys(const QString& folder)
{
    State& s = state();
    const std::lock_guard lock(s.mutex);
    QSet<QByteArray> all;
    const QList<int> numbers = packNumbers(folder, s);
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        if (const Index* index =
                indexOf(packPath(folder, numbers[i]), i == numbers.size() - 1, s)) {
            for (auto it = index->kept.begin(); it != index->kept.end(); ++it) {
                all.insert(it.key());
            }
        }
    }
    return all;
}

int removeAllBut(const QString& folder, const QSet<QByteArray>& keep)
{
    State& s = state();
    const std::lock_guard lock(s.mutex);
    int removed = 0;
    for (const int number : packNumbers(folder, s)) {
        const QString path = packPath(folder, number);
        const Fd fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC));
        if (fd.get() < 0) {
            continue;
        }
        Index& index = s.indexes[path];
        scan(fd.get(), stateOf(fd.get()), index);
        for (const qint64 at : std::as_const(index.superseded)) {
            (void)removeEntry(fd.get(), at);
        }
        index.superseded.clear();
        for (auto it = index.kept.begin(); it != index.kept.end();) {
            if (!keep.contains(it.key()) && removeEntry(fd.get(), it.value())) {
                ++removed;
                it = index.kept.erase(it);
            } else {
                ++it;
            }
        }
        if (index.kept.isEmpty() && QFile::remove(path)) {
            s.indexes.remove(path);
        } else {
            index.changed = stateOf(fd.get()).changed; // the removals were ours
        }
    }
    return removed;
}

} // namespace lumora::packs
