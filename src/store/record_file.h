#pragma once

#include "store/status.h"

#include <QByteArray>
#include <QString>

#include <functional>

// A file of fixed-length records with no header: record n (from 1) lies at
// byte (n - 1) * length. Every operation opens the file, does its work and
// closes it again; no handle stays open between operations. Writes are
// flushed to disk before they return, so a stored record survives a crash.
// Who may write when is decided by the file's owner (RecordOwner); deleting
// records goes through it too (deleteRecords).
namespace lumora {

struct RecordLayout {
    qsizetype length;     // bytes per record
    qsizetype flagOffset; // offset of the 16-bit little-endian live flag
};

// Points at which a compaction can be stopped in tests, as if the process had
// died there.
enum class CompactStep {
    Marked,      // the deleted record's flag is 0 on disk
    TempRecord,  // one more record has been written to the temporary file
    TempWritten, // the temporary file holds every live record
    TempSynced,  // ... and is on disk
    Replaced,    // the temporary file has been renamed over the data file
};
using CompactHook = std::function<bool(CompactStep)>;

// Whether a write waits until the record is on disk. A caller that writes
// many records in a row may leave the flushing to one call of
// syncFileSystem() at a point where it matters (see the receive cycle).
enum class Flush { Now, Later };

class RecordFile {
public:
    RecordFile(QString path, RecordLayout layout) : path_(std::move(path)), layout_(layout) {}

    const QString& path() const { return path_; }
    const RecordLayout& layout() const { return layout_; }

    // Creates the file empty when it does not exist.
    Status ensureExists() const;

    // File length / record length, rounded to the nearest integer (an exact
    // half goes to the even neighbour). A missing file counts 0.
    qint64 roundedCount() const;
    // The number of whole records; a partial tail is not a record.
    qint64 wholeCount() const;

    // Record n, or EndOfFile when the file cannot fill a whole record n.
    Result<QByteArray> read(qint64 n) const;
    // Calls visit with every whole record in order, from record 1, reading
    // the file once; a partial tail is not a record. A missing file has none.
    Status forEach(const std::function<void(qint64 n, const QByteArray& record)>& visit) const;
    // The same for the bytes at offset, width long, of every whole record,
    // reading nothing else (a list of held mails needs their subjects only).
    Status forEachSlice(qsizetype offset, qsizetype width,
                        const std::function<void(qint64 n, const QByteArray& slice)>& visit) const;
    // Writes record n (the record must be exactly one record long), creating
    // the file when missing; flushed to disk before returning.
    Status write(qint64 n, const QByteArray& record, Flush flush = Flush::Now) const;
    // Cuts off a partial record at the end of the file (what a write cut
    // short by a crash leaves), so that the next record goes right after the
    // last whole one. True when something was cut.
    Result<bool> dropPartialTail() const;

    // The number append() writes at: round(length / record length + 1).
    qint64 appendNumber() const;
    // Writes the record at round(length / record length + 1): after the last
    // whole record of a file at rest. Returns the record number.
    Result<qint64> append(const QByteArray& record, Flush flush = Flush::Now) const;

    // Rewrites the file keeping, in order, every whole record whose live flag
    // is not 0. Crash-safe: the compacted file is built under tempPath,
    // flushed, and renamed over the data file, so at every moment one of the
    // two files holds every live record.
    Status compact(const QString& tempPath, const CompactHook& hook = {}) const;

    // Repairs what an interrupted compaction left behind, by this program or by
    // an older one that copied the data file to the temporary file first and
    // rebuilt the data file from it: when the temporary file exists, the
    // larger of the two files holds every live record and becomes the data
    // file. The other one is never deleted while it holds a whole record (it
    // may be newer than it looks): it is kept beside the data file as
    // "<name>.kept" (replacing an older one), which the result gives so the
    // user can be told.
    struct Recovery {
        bool repaired = false;
        QString keptFile; // empty when nothing needed keeping
    };
    Result<Recovery> recover(const QString& tempPath) const;

private:
    QString path_;
    RecordLayout layout_;
};

// Little-endian 16-bit integers inside a record.
qint16 readInt16(const QByteArray& record, qsizetype offset);
void writeInt16(QByteArray& record, qsizetype offset, qint16 value);

} // namespace lumora
