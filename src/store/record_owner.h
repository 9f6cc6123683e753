#pragma once

#include "store/record_file.h"
#include "store/status.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// The one owner of a record file in this process. Whoever writes the file
// (a receive appending a mail, the viewer compacting it, an import, the
// compose window holding a mail, the address book) takes a turn from the
// owner at the moment it writes and gives it back when done: no append and
// no rewrite ever overlap, whatever the windows do or ask meanwhile.
//
// A rewrite replaces the file by a new one. The owner counts rewrites, and a
// handle opened for appending (TurnAppender) is bound to the file it was
// opened on: it reopens before writing when the file was replaced, so no
// record is ever written into a file that has been renamed over.
//
// Another program never writes the same application folder (the instance
// lock keeps it away). The one process that writes beside the program is its
// own receive, started by it: there the file's turns and runs are the
// program's, asked for through a TurnBroker (see turn_link.h).
namespace lumora {

// Who is writing, so that a writer that has to wait can say for whom.
enum class Writer { Receive, Import, Deletion, Hold, AddressBook, Repair };

// Japanese words for a writer, for "... が終わるのを待っています".
QString writerName(Writer writer);

// Where the turns of a file come from in a process the program started to
// write it: the program, which orders them with its own writers.
class TurnBroker {
public:
    virtual ~TurnBroker() = default;
    // Waits for the turn; the number of times the file has been replaced.
    virtual quint64 take(Writer who) = 0;
    // Ends the turn; replaced: the holder replaced the file.
    virtual void release(bool replaced) = 0;
    virtual bool enterRun() = 0;
    virtual bool leaveRun(bool complete) = 0;
};

class RecordOwner {
public:
    // The owner of the file at path (made on first use; shared by everyone
    // who asks for the same file while any of them holds it).
    static std::shared_ptr<RecordOwner> of(const QString& path, RecordLayout layout);

    RecordOwner(const RecordOwner&) = delete;
    RecordOwner& operator=(const RecordOwner&) = delete;

    const RecordFile& file() const { return file_; }

    // The right to write the file, held until destroyed.
    class Turn {
    public:
        Turn(Turn&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)) {}
        Turn& operator=(Turn&&) = delete;
        ~Turn();
        const RecordFile& file() const { return owner_->file_; }
        // How many times the file has been replaced.
        quint64 generation() const;
        // The holder has replaced the file with a new one.
        void replacedFile() const;

    private:
        friend class RecordOwner;
        explicit Turn(RecordOwner* owner) : owner_(owner) {}
        RecordOwner* owner_;
    };

    // Waits until nobody else writes.
    Turn take(Writer who);
    // The turn at once, or nothing while someone else writes (with a broker
    // the program's writers are not seen from here, and it waits as take()).
    std::optional<Turn> tryTake(Writer who);
    // Who writes now, if anyone.
    std::optional<Writer> holder() const;
    quint64 generation() const;

    // Called on the waiting thread each time a writer starts to wait, with
    // the one it waits for (tests use it to know a writer is blocked).
    void setWaitObserver(std::function<void(Writer waiting, Writer holder)> observer);
    // From here on the turns and runs are the broker's (see TurnBroker).
    void setBroker(std::shared_ptr<TurnBroker> broker);
    // Called on a writer's thread whenever it has to wait for the turn: the
    // holder may be lending it to another process, which is then asked to
    // give it back (see serveTurns).
    void setReclaimer(std::function<void()> reclaimer);
    // How many writers wait for the turn.
    int waiting() const;

    // Runs of writes that may leave something half done when a crash stops
    // them (a receive, an import), counted across threads. enterRun() is
    // true for the first of the runs in hand; leaveRun() is true when the
    // last one leaves and none of them left anything half done.
    bool enterRun();
    bool leaveRun(bool complete);

private:
    RecordOwner(const QString& path, RecordLayout layout) : file_(path, layout) {}
    void release();

    RecordFile file_;
    mutable std::mutex mutex_;
    std::condition_variable free_;
    std::optional<Writer> holder_;
    quint64 generation_ = 0;
    int runs_ = 0;
    bool runLeftUndone_ = false;
    std::shared_ptr<TurnBroker> broker_;
    quint64 generationTaken_ = 0;
    std::function<void(Writer, Writer)> waitObserver_;
    std::function<void()> reclaimer_;
    int waiting_ = 0;
};

// An open handle for a run of appends (a receive, an import): what a reader
// sees is the same as RecordFile::append. Writes are not flushed; the caller
// syncs the file system when the run is done. Each append needs the file's
// turn, and reopens the file first when it was replaced since the last one.
class TurnAppender {
public:
    explicit TurnAppender(RecordFile file) : file_(std::move(file)) {}
    ~TurnAppender();
    TurnAppender(const TurnAppender&) = delete;
    TurnAppender& operator=(const TurnAppender&) = delete;

    // Opens the file (or reopens it after a rewrite) for the turn.
    Status prepare(quint64 generation);
    // The number the next append writes at: round(length / record length + 1).
    qint64 appendNumber() const;
    // Writes the record at appendNumber(); the caller holds the turn and has
    // prepared this appender for it.
    Result<qint64> append(const QByteArray& record);
    // Writes the record as number n (for a file kept in step with another).
    Status writeAt(qint64 n, const QByteArray& record);

private:
    RecordFile file_;
    int fd_ = -1;
    quint64 generation_ = 0;
};

// A record the user chose to delete, as it was shown: the deletion goes ahead
// only when record number still holds these bytes.
struct ChosenRecord {
    qint64 number = 0;
    QByteArray bytes;
};

// What a file kept in step with the record file does after a deletion (the
// received-mail file's map of originals): once the compacted file is in
// place, given which records went (numbers of the file as it was) and the
// count before. It must be safe to run again: a crash may stop it, and the
// deletion's journal has it run again.
struct DeletionSteps {
    std::function<Status(const QList<qint64>& dead, qint64 countBefore)> afterCompaction;
};

// Deletes the chosen records in the program's way (their live flags set to
// 0, then the file compacted through tempPath), under a turn. A journal
// beside the file names the records first, so that a deletion a crash stops
// is completed by completeDeletion() at the next start. Changed when a chosen
// record no longer holds the bytes the user saw: nothing is deleted.
Status deleteRecords(const RecordOwner::Turn& turn, const QString& tempPath,
                     const QList<ChosenRecord>& chosen, const DeletionSteps& steps = {},
                     const CompactHook& hook = {});
// Deletes records 1 to count (what the user saw when asking to delete all);
// records appended since stay.
Status deleteFirst(const RecordOwner::Turn& turn, const QString& tempPath, qint64 count,
                   const DeletionSteps& steps = {}, const CompactHook& hook = {});
// Completes a deletion a crash stopped, or repairs what an older program's
// interrupted deletion left (RecordFile::recover). Nothing to do is success.
Result<RecordFile::Recovery> completeDeletion(const RecordOwner::Turn& turn,
                                              const QString& tempPath,
                                              const DeletionSteps& steps = {});
// The journal of a deletion of the file at path.
QString deletionJournal(const QString& path);

} // namespace lumora
