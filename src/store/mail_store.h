#pragma once

#include "store/originals.h"
#include "store/paths.h"
#include "store/record_owner.h"
#include "store/status.h"

#include <QByteArray>
#include <QList>
#include <QMultiHash>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The received-mail file with the originals of its mails, as one thing to
// write: every receive, import and deletion goes through here and takes the
// file's turn (RecordOwner) for each step it writes, so the file, the map of
// originals and the originals always change together and in order.
namespace lumora {

// What the writer does around one mail, under the file's turn, after its
// original is kept: before (the mail is about to become record number),
// between (a test stops there, as a crash would), after (the record is
// written).
struct AppendSteps {
    std::function<void(qint64 number)> before;
    std::function<void()> between;
    std::function<void(qint64 number)> after;
};

// What a deletion took away, told under the file's turn once the deletion
// is done, for what is kept beside the files (the search index): the keys
// of the mails no longer stored (a mail's original's key, or its record's
// for mail without one; a key another record still has is not among them),
// or that every mail the user saw went. A crash before it is told leaves
// the index to find out by comparing itself with the files.
struct DeletedMails {
    QList<QByteArray> keys;
    bool all = false;
};
using DeletionWitness = std::function<void(const DeletedMails&)>;

class MailStore {
public:
    // The received-mail file's record numbers are 16-bit.
    static constexpr qint64 kMaxRecords = 32767;

    explicit MailStore(const AppPaths& paths);

    RecordOwner& owner() const { return *owner_; }
    const RecordFile& file() const { return owner_->file(); }
    const Originals& originals() const { return originals_; }

    // A run of appends (a receive or an import), through one open handle of
    // each file. Nothing is flushed; the caller syncs the file system when
    // the run is done, before anything depends on the mails being on disk.
    class Appender {
    public:
        Appender(const MailStore& store, Writer who);
        ~Appender();
        Appender(const Appender&) = delete;
        Appender& operator=(const Appender&) = delete;

        // Waits for the turn and appends the mail: its original (when it has
        // one) and its entry in the map, then the record. The record's
        // number. Full when the file holds kMaxRecords records; the failure
        // of a write, after which nothing of this mail is stored.
        // keys, when given, are the record's and the original's, worked out
        // already (an import needs them before).
        Result<qint64> append(const QByteArray& record, const QByteArray& original,
                              const AppendSteps& steps = {},
                              const std::optional<Originals::Entry>& keys = std::nullopt);
        // The number the next mail gets, as far as is known now.
        qint64 appendNumber() const;
        // The run is over; with complete, nothing it did is half done.
        void finish(bool complete);

    private:
        Status prepare(const RecordOwner::Turn& turn);

        const MailStore& store_;
        Writer who_;
        TurnAppender records_;
        TurnAppender map_;
        quint64 prepared_ = ~quint64(0);
        bool entered_ = false;
        bool finished_ = false;
    };

    // Deletes the chosen records (as the user saw them) with their
    // originals; Changed, and nothing deleted, when one is not that record
    // any more. Waits for the turn.
    Status remove(const QList<ChosenRecord>& chosen, const CompactHook& hook = {},
                  const DeletionWitness& witness = {}) const;
    // Deletes records 1 to count, what the user saw when asking to delete
    // all; mail stored since stays.
    Status removeFirst(qint64 count, const CompactHook& hook = {},
                       const DeletionWitness& witness = {}) const;
    // Completes a deletion a crash stopped and repairs what an older
    // program's interrupted deletion left: what start-up does, reading no
    // more than those need.
    Result<RecordFile::Recovery> completeStoppedDeletion() const;
    // The same, and the map brought in step with the records (which reads
    // the whole file when an older program stored mail without the map;
    // every writer's first turn does it too).
    Result<RecordFile::Recovery> recover() const;

    // What is stored already, for an import: the key of every original the
    // map names, and for each record key the keys of its records' originals
    // (an empty key for a record stored without one).
    struct StoredKeys {
        QSet<QByteArray> contents;
        QMultiHash<QByteArray, QByteArray> byRecord;
    };
    Result<StoredKeys> storedKeys() const;

private:
    // Under the turn: a deletion a crash stopped is completed and the map
    // brought in step.
    Status settle(const RecordOwner::Turn& turn) const;
    DeletionSteps deletionSteps() const;
    // The index key of record n, as the map names its original.
    QByteArray indexKey(const ChosenRecord& record) const;

    std::shared_ptr<RecordOwner> owner_;
    QString tempPath_;
    Originals originals_;
};

} // namespace lumora
