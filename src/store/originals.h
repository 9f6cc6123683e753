#pragma once

#include "store/record_file.h"
#include "store/status.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <optional>

// The originals of received mails: each mail's bytes exactly as they came,
// one file per mail in the data folder's "messages" folder. A file is named
// by the SHA-256 of its record's bytes 0 to 32279 (everything but the live
// flag), so a record finds its original by its own content wherever
// compaction moves it, and records of one content share one original.
//
// A change that may leave an original without its record (a receive, an
// import, a deletion) is bracketed by begin() and end(); when a crash
// stops one half way, the next begin() removes what no record refers to.
namespace lumora {

class Originals {
public:
    // The bytes of a record that name its original.
    static constexpr qsizetype kNamedBytes = 32280;
    // Its subject, date and sender: records of one content share them, so
    // only records that start alike need to be read whole to compare names.
    static constexpr qsizetype kHeadBytes = 280;

    explicit Originals(QString folder) : folder_(std::move(folder)) {}

    const QString& folder() const { return folder_; }

    // The file name for a record's bytes: 64 lower-case hex digits.
    static QString nameFor(QByteArrayView record);
    QString pathFor(QByteArrayView record) const;

    // Writes the original of a record unless one is there already; the file
    // gets its name only once it is complete. Not flushed: the caller syncs
    // the file system with the records.
    Status write(QByteArrayView record, const QByteArray& original) const;
    // The record's original, or nothing for mail stored without one.
    std::optional<QByteArray> read(QByteArrayView record) const;
    bool has(QByteArrayView record) const;

    // Every original's name.
    QSet<QString> names() const;
    // Removes the originals whose names are not in keep. The number removed.
    int removeAllBut(const QSet<QString>& keep) const;
    // Removes the record's original when no record of the file refers to it
    // any more.
    Status removeIfUnused(QByteArrayView record, const RecordFile& file) const;

    // Starts a change; first cleans up after one a crash stopped (see above),
    // against the records of file.
    Status begin(const RecordFile& file) const;
    // The change is complete and on disk.
    void end() const;
    // True when a change was begun and not ended.
    bool interrupted() const;

private:
    QString folder_;
};

// The names of the originals every whole record of the file refers to.
Result<QSet<QString>> originalNames(const RecordFile& file);

} // namespace lumora
