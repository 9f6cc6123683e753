#pragma once

#include "store/record_file.h"
#include "store/status.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// The originals of received mails: each mail's bytes exactly as they came,
// kept in the data folder's "messages" folder under the SHA-256 of its bytes
// (its content key, so the same mail taken in twice is kept once), packed
// many to a file (see original_packs.h). Earlier versions kept one file per
// mail, named by the key in hex; those are still read and removed.
//
// Which original belongs to which record is written in "messages/map", a
// file of 64-byte entries kept in step with the received-mail file: entry n
// is record n's, and holds the SHA-256 of that record's bytes 0 to 32279
// (the record's key, which tells whether the entry is still in step with
// its record) and the SHA-256 of its original (zeros: none of this kind).
// Two mails whose records come out byte for byte the same keep two
// originals; the map tells them apart by their place.
//
// Mail stored by the first versions that kept originals has its original
// named by the record's key instead, and an entry with zeros (or no entry)
// finds it by that name.
//
// A change that may leave an original without its record (a receive, an
// import, a deletion) is bracketed by begin() and end(); when a crash
// stops one half way, the next begin() removes what no entry refers to.
// Everything that writes takes the received-mail file's turn (RecordOwner).
namespace lumora {

class Originals {
public:
    // The bytes of a record that make its key.
    static constexpr qsizetype kNamedBytes = 32280;
    // Its subject, date and sender: records of one content share them.
    static constexpr qsizetype kHeadBytes = 280;
    // One entry of the map: the record's key, then the original's.
    static constexpr qsizetype kEntryBytes = 64;
    static constexpr RecordLayout kMapLayout{kEntryBytes, 0};

    struct Entry {
        QByteArray recordKey;  // 32 bytes
        QByteArray contentKey; // 32 bytes, or empty: named by the record key
        // The original's file name: 64 lower-case hex digits.
        QString name() const;
    };

    explicit Originals(QString folder) : folder_(std::move(folder)) {}

    const QString& folder() const { return folder_; }
    QString mapPath() const;
    RecordFile mapFile() const { return RecordFile(mapPath(), kMapLayout); }

    static QByteArray recordKey(QByteArrayView record);
    static QByteArray contentKey(QByteArrayView original);
    static QByteArray entryBytes(const Entry& entry);
    static QString hexName(QByteArrayView key);

    // Reading, from any thread without a turn. Record n's original (the
    // record's bytes as read with it), or nothing for mail stored without
    // one. When the map is out of step with the file (a rewrite in hand, or
    // an older program changed the file), the entry of the same key nearest
    // to n is taken.
    std::optional<QByteArray> read(qint64 n, QByteArrayView record) const;
    // The original of a content key, wherever it is kept.
    std::optional<QByteArray> readContent(QByteArrayView contentKey) const;
    bool has(qint64 n, QByteArrayView record) const;
    // The entry that names record n's original, as read() finds it.
    std::optional<Entry> entryFor(qint64 n, QByteArrayView record) const;
    // Every entry of the map, in order.
    Result<QList<Entry>> entries() const;

    // Writing, with the received-mail file's turn. Appends the original to
    // the packs unless a whole one of the same content is kept. Not flushed:
    // the caller syncs the file system with the records. The entry for the
    // record.
    Result<Entry> write(QByteArrayView record, const QByteArray& original) const;
    // The same with the keys worked out already (entry.contentKey must be
    // the original's).
    Status write(const Entry& entry, const QByteArray& original) const;
    // Brings the map in step with the records of file: entries the file has
    // no record for (a crash between an entry and its record) go, records
    // stored without an entry (by an older program) get one that finds an
    // original by the record's key, and a map an older program left out of
    // step is matched to the records again, in order.
    Status reconcile(const RecordFile& file) const;
    // After a deletion of the records dead (numbers of the file as it was
    // with countBefore records): drops their entries and removes the
    // originals no other entry refers to. Safe to run again.
    Status dropEntries(const QList<qint64>& dead, qint64 countBefore) const;
    // Removes the originals whose names are not in keep. The number removed.
    int removeAllBut(const QSet<QString>& keep) const;
    // The names of the originals the map refers to.
    Result<QSet<QString>> referencedNames() const;
    // Every original kept, by name (its key in hex).
    QSet<QString> names() const;

    // Starts a change; first cleans up after one a crash stopped. The map
    // must be in step (reconcile()).
    Status begin() const;
    // The change is complete and on disk.
    void end() const;
    // True when a change was begun and not ended.
    bool interrupted() const;

private:
    std::optional<QByteArray> readFile(const QString& name) const;

    QString folder_;
};

} // namespace lumora
