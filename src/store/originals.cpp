#include "store/originals.h"

#include "store/file_io.h"
#include "store/original_packs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {
namespace {

const QString kChangeMarker = QStringLiteral(".changing");
const QString kMapName = QStringLiteral("map");
constexpr qsizetype kKeyBytes = 32;

bool isOriginalName(const QString& name)
{
    if (name.size() != 64) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
    });
}

qint64 fileSize(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? static_cast<qint64>(st.st_size)
                                                                 : -1;
}

Originals::Entry entryOf(const QByteArray& bytes)
{
    Originals::Entry entry;
    entry.recordKey = bytes.first(kKeyBytes);
    const QByteArray content = bytes.sliced(kKeyBytes, kKeyBytes);
    if (content.count('\0') != kKeyBytes) {
        entry.contentKey = content;
    }
    return entry;
}

// The whole map; a partial entry at the end is none.
Result<QList<Originals::Entry>> readEntries(const RecordFile& map)
{
    QList<Originals::Entry> list;
    Status status =
        map.forEach([&list](qint64, const QByteArray& bytes) { list.append(entryOf(bytes)); });
    if (!status.ok()) {
        return status;
    }
    return list;
}

Status writeEntries(const QString& path, const QList<Originals::Entry>& entries)
{
    QByteArray bytes;
    bytes.reserve(entries.size() * Originals::kEntryBytes);
    for (const Originals::Entry& e : entries) {
        bytes += Originals::entryBytes(e);
    }
    return fileio::writeAtomically(path, bytes);
}

// The entry for a record stored without an original of the map's kind.
Originals::Entry legacyEntry(QByteArrayView record)
{
    return {Originals::recordKey(record), {}};
}

// Entries matched to records in order: each record takes the first entry of
// its key after the one the record before it took; a record with none left
// gets a legacy entry. Entries left over belonged to records that are gone.
QList<Originals::Entry> matchInOrder(const QList<Originals::Entry>& entries,
                                     const QList<QByteArray>& keys)
{
    QHash<QByteArray, QList<qsizetype>> places;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        places[entries[i].recordKey].append(i);
    }
    QHash<QByteArray, qsizetype> used; // per key: how many places passed
    QList<Originals::Entry> matched;
    matched.reserve(keys.size());
    qsizetype after = -1;
    for (const QByteArray& key : keys) {
        const QList<qsizetype>& at = places[key];
        qsizetype& k = used[key];
        while (k < at.size() && at[k] <= after) {
            ++k;
        }
        if (k < at.size()) {
            after = at[k];
            matched.append(entries[at[k]]);
            ++k;
        } else {
            matched.append(Originals::Entry{key, {}});
        }
    }
    return matched;
}

} // namespace

QString Originals::Entry::name() const
{
    return hexName(contentKey.isEmpty() ? recordKey : contentKey);
}

QString Originals::mapPath() const
{
    return QDir(folder_).filePath(kMapName);
}

QByteArray Originals::recordKey(QByteArrayView record)
{
    return packs::sha256(record.first(std::min(record.size(), kNamedBytes)));
}

QByteArray Originals::contentKey(QByteArrayView original)
{
    return packs::sha256(original);
}

QByteArray Originals::entryBytes(const Entry& entry)
{
    QByteArray bytes = entry.recordKey.leftJustified(kKeyBytes, '\0', true);
    bytes += entry.contentKey.isEmpty() ? QByteArray(kKeyBytes, '\0')
                                        : entry.contentKey.leftJustified(kKeyBytes, '\0', true);
    return bytes;
}

QString Originals::hexName(QByteArrayView key)
{
    return QString::fromLatin1(key.toByteArray().toHex());
}

std::optional<Originals::Entry> Originals::entryFor(qint64 n, QByteArrayView record) const
{
    const QByteArray key = recordKey(record);
    const RecordFile map = mapFile();
    if (n >= 1) {
        const Result<QByteArray> bytes = map.read(n);
        if (bytes.ok() && bytes.value().startsWith(key)) {
            return entryOf(bytes.value());
        }
    }
    // Out of step: the entry of this key nearest to n.
    std::optional<Entry> nearest;
    qint64 distance = 0;
    (void)map.forEachSlice(0, kKeyBytes, [&](qint64 i, const QByteArray& slice) {
        if (slice == key && (!nearest || std::abs(i - n) < distance)) {
            const Result<QByteArray> bytes = map.read(i);
            if (bytes.ok()) {
                nearest = entryOf(bytes.value());
                distance = std::abs(i - n);
            }
        }
    });
    if (nearest) {
        return nearest;
    }
    return legacyEntry(record);
}

std::optional<QByteArray> Originals::read(qint64 n, QByteArrayView record) const
{
    const std::optional<Entry> entry = entryFor(n, record);
    if (!entry) {
        return std::nullopt;
    }
    if (!entry->contentKey.isEmpty()) {
        return readContent(entry->contentKey);
    }
    return readFile(entry->name());
}

std::optional<QByteArray> Originals::readContent(QByteArrayView contentKey) const
{
    if (std::optional<QByteArray> packed = packs::read(folder_, contentKey)) {
        return packed;
    }
    return readFile(hexName(contentKey)); // kept by an earlier version
}

std::optional<QByteArray> Originals::readFile(const QString& name) const
{
    // An empty file of the name (what a power cut before the flush may
    // leave) counts as none.
    Result<QByteArray> bytes = fileio::readAll(QDir(folder_).filePath(name));
    if (!bytes.ok() || bytes.value().isEmpty()) {
        return std::nullopt;
    }
    return std::move(bytes).value();
}

bool Originals::has(qint64 n, QByteArrayView record) const
{
    const std::optional<Entry> entry = entryFor(n, record);
    return entry && ((!entry->contentKey.isEmpty() && packs::has(folder_, entry->contentKey)) ||
                     fileSize(QDir(folder_).filePath(entry->name())) > 0);
}

Result<QList<Originals::Entry>> Originals::entries() const
{
    return readEntries(mapFile());
}

Result<Originals::Entry> Originals::write(QByteArrayView record, const QByteArray& original) const
{
    Entry entry{recordKey(record), contentKey(original)};
    if (Status status = write(entry, original); !status.ok()) {
        return status;
    }
    return entry;
}

Status Originals::write(const Entry& entry, const QByteArray& original) const
{
    // The same content kept already, whole, in a pack or a file of its own.
    if (fileSize(QDir(folder_).filePath(entry.name())) == original.size() ||
        packs::read(folder_, entry.contentKey)) {
        return Status::success();
    }
    Status status = packs::append(folder_, entry.contentKey, original);
    if (!status.ok() && !QFileInfo::exists(folder_) && QDir().mkpath(folder_)) {
        status = packs::append(folder_, entry.contentKey, original);
    }
    return status;
}

Status Originals::reconcile(const RecordFile& file) const
{
    const RecordFile map = mapFile();
    const qint64 records = file.wholeCount();
    const qint64 mapped = map.wholeCount();
    const auto inStep = [&](qint64 n) {
        if (n == 0) {
            return true;
        }
        const Result<QByteArray> entry = map.read(n);
        const Result<QByteArray> record = file.read(n);
        return entry.ok() && record.ok() && entry.value().startsWith(recordKey(record.value()));
    };
    if (mapped == records && inStep(records)) {
        (void)map.dropPartialTail();
        return Status::success();
    }
    if (mapped > records && inStep(records)) {
        // Entries written just before a crash, for records never written.
        if (::truncate(QFile::encodeName(map.path()).constData(),
                       static_cast<off_t>(records * kEntryBytes)) != 0) {
            return {StoreError::WriteFailed, map.path()};
        }
        return Status::success();
    }
    if (mapped < records && inStep(mapped)) {
        (void)map.dropPartialTail();
        // Records stored by a program that keeps no map: read in one pass
        // from the first of them, their entries written in one piece.
        QFile source(file.path());
        QFile target(map.path());
        if (!source.open(QIODevice::ReadOnly) || !source.seek(mapped * file.layout().length) ||
            !target.open(QIODevice::WriteOnly | QIODevice::Append)) {
            return {StoreError::OpenFailed, file.path()};
        }
        QByteArray added;
        added.reserve((records - mapped) * kEntryBytes);
        for (qint64 n = mapped + 1; n <= records; ++n) {
            const QByteArray record = source.read(file.layout().length);
            if (record.size() != file.layout().length) {
                return {StoreError::ReadFailed, file.path()};
            }
            added += entryBytes(legacyEntry(record));
        }
        if (target.write(added) != added.size()) {
            return {StoreError::WriteFailed, map.path()};
        }
        return Status::success();
    }
    // Out of step in the middle: matched again in order.
    Result<QList<Entry>> old = readEntries(map);
    if (!old.ok()) {
        return old.status();
    }
    QList<QByteArray> keys;
    keys.reserve(records);
    Status status =
        file.forEach([&keys](qint64, const QByteArray& record) { keys.append(recordKey(record)); });
    if (!status.ok()) {
        return status;
    }
    return writeEntries(map.path(), matchInOrder(old.value(), keys));
}

Status Originals::dropEntries(const QList<qint64>& dead, qint64 countBefore) const
{
    const RecordFile map = mapFile();
    const qint64 mapped = map.wholeCount();
    if (mapped == countBefore && !dead.isEmpty()) {
        Result<QList<Entry>> all = readEntries(map);
        if (!all.ok()) {
            return all.status();
        }
        const QSet<qint64> gone(dead.begin(), dead.end());
        QList<Entry> kept;
        QSet<QString> dropped;
        for (qsizetype i = 0; i < all.value().size(); ++i) {
            if (gone.contains(i + 1)) {
                dropped.insert(all.value()[i].name());
            } else {
                kept.append(all.value()[i]);
            }
        }
        if (Status status = writeEntries(map.path(), kept); !status.ok()) {
            return status;
        }
        for (const Entry& e : kept) {
            dropped.remove(e.name());
        }
        const QDir dir(folder_);
        QSet<QByteArray> keptKeys;
        for (const Entry& e : kept) {
            if (!e.contentKey.isEmpty()) {
                keptKeys.insert(e.contentKey);
            }
        }
        for (const QString& name : dropped) {
            QFile::remove(dir.filePath(name));
        }
        packs::removeAllBut(folder_, keptKeys);
        return Status::success();
    }
    if (mapped == countBefore - dead.size()) {
        // The map was rewritten before a crash; what it no longer names goes.
        Result<QSet<QString>> keep = referencedNames();
        if (!keep.ok()) {
            return keep.status();
        }
        removeAllBut(keep.value());
    }
    return Status::success();
}

Result<QSet<QString>> Originals::referencedNames() const
{
    Result<QList<Entry>> all = entries();
    if (!all.ok()) {
        return all.status();
    }
    QSet<QString> referenced;
    for (const Entry& e : all.value()) {
        referenced.insert(e.name());
    }
    return referenced;
}

QSet<QString> Originals::names() const
{
    QSet<QString> found;
    for (const QString& name : QDir(folder_).entryList(QDir::Files)) {
        if (isOriginalName(name)) {
            found.insert(name);
        }
    }
    for (const QByteArray& key : packs::keys(folder_)) {
        found.insert(hexName(key));
    }
    return found;
}

int Originals::removeAllBut(const QSet<QString>& keep) const
{
    int removed = 0;
    const QDir dir(folder_);
    for (const QString& name : QDir(folder_).entryList(QDir::Files)) {
        if (isOriginalName(name) && !keep.contains(name) && QFile::remove(dir.filePath(name))) {
            ++removed;
        }
    }
    QSet<QByteArray> keptKeys;
    for (const QString& name : keep) {
        keptKeys.insert(QByteArray::fromHex(name.toLatin1()));
    }
    removed += packs::removeAllBut(folder_, keptKeys);
    // Temporary files of a write a crash stopped.
    for (const QString& name : dir.entryList({QStringLiteral(".new-*"), QStringLiteral("*.new")},
                                             QDir::Files | QDir::Hidden)) {
        QFile::remove(dir.filePath(name));
    }
    return removed;
}

Status Originals::begin() const
{
    if (!QDir().mkpath(folder_)) {
        return {StoreError::OpenFailed, folder_};
    }
    const QString marker = QDir(folder_).filePath(kChangeMarker);
    if (QFileInfo::exists(marker)) {
        Result<QSet<QString>> keep = referencedNames();
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

} // namespace lumora
