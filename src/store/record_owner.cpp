#include "store/record_owner.h"

#include "store/file_io.h"
#include "store/numeric_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cerrno>
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

struct Registry {
    std::mutex mutex;
    QHash<QString, std::weak_ptr<RecordOwner>> owners;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

// The journal: "count C" and the numbers of the records that go, as runs.
QByteArray journalText(qint64 countBefore, const QList<qint64>& dead)
{
    QByteArray text = "count " + QByteArray::number(countBefore) + '\n';
    for (qsizetype i = 0; i < dead.size();) {
        qsizetype j = i;
        while (j + 1 < dead.size() && dead[j + 1] == dead[j] + 1) {
            ++j;
        }
        text += "delete " + QByteArray::number(dead[i]) + '-' + QByteArray::number(dead[j]) + '\n';
        i = j + 1;
    }
    return text;
}

struct Journal {
    qint64 countBefore = -1;
    QList<qint64> dead;
};

std::optional<Journal> readJournal(const QString& path)
{
    Result<QByteArray> text = fileio::readAll(path);
    if (!text.ok()) {
        return std::nullopt;
    }
    Journal journal;
    for (const QByteArray& line : text.value().split('\n')) {
        bool ok = false;
        if (line.startsWith("count ")) {
            journal.countBefore = line.mid(6).toLongLong(&ok);
            if (!ok) {
                return std::nullopt;
            }
        } else if (line.startsWith("delete ")) {
            const QList<QByteArray> run = line.mid(7).split('-');
            bool ok2 = false;
            const qint64 from = run.value(0).toLongLong(&ok);
            const qint64 to = run.value(1).toLongLong(&ok2);
            if (!ok || !ok2 || from < 1 || to < from || to > journal.countBefore) {
                return std::nullopt;
            }
            for (qint64 n = from; n <= to; ++n) {
                journal.dead.append(n);
            }
        } else if (!line.isEmpty()) {
            return std::nullopt;
        }
    }
    if (journal.countBefore < 0) {
        return std::nullopt;
    }
    return journal;
}

// The records whose live flag is 0, in order.
Result<QList<qint64>> deadRecords(const RecordFile& file)
{
    QList<qint64> dead;
    const Status status =
        file.forEachSlice(file.layout().flagOffset, 2, [&dead](qint64 n, const QByteArray& flag) {
            if (flag[0] == 0 && flag[1] == 0) {
                dead.append(n);
            }
        });
    if (!status.ok()) {
        return status;
    }
    return dead;
}

// Sets the live flags of the records to 0 with one flush for all of them.
Status markDead(const RecordFile& file, const QList<qint64>& numbers)
{
    const QByteArray path = QFile::encodeName(file.path());
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return {StoreError::OpenFailed, file.path() + QStringLiteral(": ") + errnoText()};
    }
    const char zero[2] = {0, 0};
    for (const qint64 n : numbers) {
        const auto at =
            static_cast<off_t>((n - 1) * file.layout().length + file.layout().flagOffset);
        if (::pwrite(fd, zero, 2, at) != 2) {
            const QString why = errnoText();
            ::close(fd);
            return {StoreError::WriteFailed, file.path() + QStringLiteral(": ") + why};
        }
    }
    const bool synced = ::fdatasync(fd) == 0;
    const QString why = errnoText();
    ::close(fd);
    return synced ? Status::success()
                  : Status(StoreError::WriteFailed, file.path() + QStringLiteral(": ") + why);
}

// Gives records their live flag back after a deletion that could not be
// carried out.
void markLive(const RecordFile& file, const QList<qint64>& numbers)
{
    for (const qint64 n : numbers) {
        Result<QByteArray> bytes = file.read(n);
        if (bytes.ok()) {
            QByteArray record = std::move(bytes).value();
            writeInt16(record, file.layout().flagOffset, 1);
            (void)file.write(n, record);
        }
    }
}

// Everything but the live flag.
bool sameRecord(const QByteArray& a, const QByteArray& b, const RecordLayout& layout)
{
    if (a.size() != layout.length || b.size() != layout.length) {
        return false;
    }
    const qsizetype flag = layout.flagOffset;
    return std::memcmp(a.constData(), b.constData(), static_cast<size_t>(flag)) == 0 &&
           std::memcmp(a.constData() + flag + 2, b.constData() + flag + 2,
                       static_cast<size_t>(layout.length - flag - 2)) == 0;
}

void removeKeptCopies(const RecordFile& file)
{
    const QFileInfo info(file.path());
    const QDir dir = info.absoluteDir();
    for (const QString& name :
         dir.entryList({info.fileName() + QStringLiteral("*.kept")}, QDir::Files | QDir::Hidden)) {
        QFile::remove(dir.filePath(name));
    }
}

// Marks, compacts and tells the steps; the journal is already on disk.
Status carryOut(const RecordOwner::Turn& turn, const QString& tempPath, const Journal& journal,
                const DeletionSteps& steps, const CompactHook& hook, bool undoOnFailure)
{
    const RecordFile& file = turn.file();
    const qint64 count = file.wholeCount();
    if (count == journal.countBefore) {
        // Compacted even when nothing is marked, as the program always has:
        // a partial record at the end goes too.
        Status status = journal.dead.isEmpty() ? Status::success() : markDead(file, journal.dead);
        if (status.ok() && hook && !hook(CompactStep::Marked)) {
            return {StoreError::Interrupted, file.path()};
        }
        if (status.ok()) {
            status = file.compact(tempPath, hook);
            if (status.ok() || status.error() == StoreError::Interrupted) {
                // Interrupted only by a test, after the rename or before it:
                // the file may be new either way.
                turn.replacedFile();
            }
        }
        if (!status.ok()) {
            if (status.error() != StoreError::Interrupted && undoOnFailure) {
                // The data file is still the old one: nothing was deleted.
                markLive(file, journal.dead);
                QFile::remove(deletionJournal(file.path()));
            }
            return status;
        }
        removeKeptCopies(file);
    } else if (count != journal.countBefore - journal.dead.size()) {
        // Neither before nor after this deletion: the file was changed by
        // something that knows nothing of the journal. Nothing more is done
        // by it; what lies beside the file is brought in step separately.
        QFile::remove(deletionJournal(file.path()));
        return Status::success();
    }
    if (steps.afterCompaction) {
        if (Status status = steps.afterCompaction(journal.dead, journal.countBefore);
            !status.ok()) {
            return status; // the journal stays: the next turn finishes the job
        }
    }
    QFile::remove(deletionJournal(file.path()));
    fileio::syncFolder(QFileInfo(file.path()).absolutePath());
    return Status::success();
}

Status beginDeletion(const RecordOwner::Turn& turn, const QString& tempPath, QList<qint64> chosen,
                     qint64 count, const DeletionSteps& steps, const CompactHook& hook)
{
    const RecordFile& file = turn.file();
    // Records an older program left half deleted go with these.
    Result<QList<qint64>> dead = deadRecords(file);
    if (!dead.ok()) {
        return dead.status();
    }
    chosen.append(dead.value());
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    Journal journal{count, chosen};
    if (Status written =
            fileio::writeAtomically(deletionJournal(file.path()), journalText(count, chosen));
        !written.ok()) {
        return written;
    }
    return carryOut(turn, tempPath, journal, steps, hook, true);
}

} // namespace

QString writerName(Writer writer)
{
    switch (writer) {
    case Writer::Receive:
        return QStringLiteral("メールの受信");
    case Writer::Import:
        return QStringLiteral("メールの読み込み");
    case Writer::Deletion:
        return QStringLiteral("メールの削除");
    case Writer::Hold:
        return QStringLiteral("下書きの保存");
    case Writer::AddressBook:
        return QStringLiteral("アドレス帳の書き込み");
    case Writer::Repair:
        return QStringLiteral("ファイルの修復");
    }
    return {};
}

std::shared_ptr<RecordOwner> RecordOwner::of(const QString& path, RecordLayout layout)
{
    const QString key = QFileInfo(path).absoluteFilePath();
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (std::shared_ptr<RecordOwner> found = r.owners.value(key).lock()) {
        return found;
    }
    std::shared_ptr<RecordOwner> made(new RecordOwner(key, layout));
    r.owners.insert(key, made);
    return made;
}

RecordOwner::Turn::~Turn()
{
    if (owner_) {
        owner_->release();
    }
}

quint64 RecordOwner::Turn::generation() const
{
    std::lock_guard lock(owner_->mutex_);
    return owner_->generation_;
}

void RecordOwner::Turn::replacedFile() const
{
    std::lock_guard lock(owner_->mutex_);
    ++owner_->generation_;
}

RecordOwner::Turn RecordOwner::take(Writer who)
{
    std::unique_lock lock(mutex_);
    if (holder_ && waitObserver_) {
        const auto observer = waitObserver_;
        const Writer current = *holder_;
        lock.unlock();
        observer(who, current);
        lock.lock();
    }
    ++waiting_;
    if (holder_ && reclaimer_) {
        // The holder may be lending the turn to another process.
        const auto reclaim = reclaimer_;
        lock.unlock();
        reclaim();
        lock.lock();
    }
    free_.wait(lock, [this] { return !holder_.has_value(); });
    --waiting_;
    holder_ = who;
    if (const std::shared_ptr<TurnBroker> broker = broker_) {
        lock.unlock();
        const quint64 generation = broker->take(who);
        lock.lock();
        generation_ = generation;
        generationTaken_ = generation;
    }
    return Turn(this);
}

std::optional<RecordOwner::Turn> RecordOwner::tryTake(Writer who)
{
    {
        std::lock_guard lock(mutex_);
        if (holder_) {
            return std::nullopt;
        }
        if (!broker_) {
            holder_ = who;
            return Turn(this);
        }
    }
    return take(who); // the program's writers are not seen from here: it waits
}

std::optional<Writer> RecordOwner::holder() const
{
    std::lock_guard lock(mutex_);
    return holder_;
}

quint64 RecordOwner::generation() const
{
    std::lock_guard lock(mutex_);
    return generation_;
}

void RecordOwner::setWaitObserver(std::function<void(Writer, Writer)> observer)
{
    std::lock_guard lock(mutex_);
    waitObserver_ = std::move(observer);
}

void RecordOwner::setReclaimer(std::function<void()> reclaimer)
{
    std::lock_guard lock(mutex_);
    reclaimer_ = std::move(reclaimer);
}

int RecordOwner::waiting() const
{
    std::lock_guard lock(mutex_);
    return waiting_;
}

void RecordOwner::setBroker(std::shared_ptr<TurnBroker> broker)
{
    std::lock_guard lock(mutex_);
    broker_ = std::move(broker);
}

bool RecordOwner::enterRun()
{
    std::unique_lock lock(mutex_);
    if (const std::shared_ptr<TurnBroker> broker = broker_) {
        lock.unlock();
        return broker->enterRun();
    }
    if (runs_ == 0) {
        runLeftUndone_ = false;
    }
    return runs_++ == 0;
}

bool RecordOwner::leaveRun(bool complete)
{
    std::unique_lock lock(mutex_);
    if (const std::shared_ptr<TurnBroker> broker = broker_) {
        lock.unlock();
        return broker->leaveRun(complete);
    }
    runLeftUndone_ = runLeftUndone_ || !complete;
    return --runs_ == 0 && !runLeftUndone_;
}

void RecordOwner::release()
{
    {
        std::unique_lock lock(mutex_);
        if (const std::shared_ptr<TurnBroker> broker = broker_) {
            const bool replaced = generation_ != generationTaken_;
            lock.unlock();
            broker->release(replaced);
            lock.lock();
        }
        holder_.reset();
    }
    free_.notify_one();
}

TurnAppender::~TurnAppender()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Status TurnAppender::prepare(quint64 generation)
{
    if (fd_ >= 0 && generation == generation_) {
        // Still the file it was opened on? Anything else that replaced it
        // (it should not happen) is caught here too.
        struct stat open {};
        struct stat named {};
        if (::fstat(fd_, &open) == 0 &&
            ::stat(QFile::encodeName(file_.path()).constData(), &named) == 0 &&
            open.st_ino == named.st_ino && open.st_dev == named.st_dev) {
            return Status::success();
        }
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = ::open(QFile::encodeName(file_.path()).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        return {StoreError::OpenFailed, file_.path() + QStringLiteral(": ") + errnoText()};
    }
    generation_ = generation;
    return Status::success();
}

qint64 TurnAppender::appendNumber() const
{
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
        return file_.appendNumber();
    }
    const double ratio =
        static_cast<double>(info.st_size) / static_cast<double>(file_.layout().length) + 1.0;
    return static_cast<qint64>(text::roundHalfEven(ratio));
}

Status TurnAppender::writeAt(qint64 n, const QByteArray& record)
{
    if (fd_ < 0) {
        return {StoreError::OpenFailed, file_.path()};
    }
    if (n < 1 || record.size() != file_.layout().length) {
        return {StoreError::BadArgument,
                QStringLiteral("record %1 of %2 bytes").arg(n).arg(record.size())};
    }
    const auto offset = static_cast<off_t>((n - 1) * file_.layout().length);
    qsizetype done = 0;
    while (done < record.size()) {
        const ssize_t w = ::pwrite(fd_, record.constData() + done,
                                   static_cast<size_t>(record.size() - done), offset + done);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {StoreError::WriteFailed, file_.path() + QStringLiteral(": ") + errnoText()};
        }
        done += w;
    }
    return Status::success();
}

Result<qint64> TurnAppender::append(const QByteArray& record)
{
    const qint64 n = appendNumber();
    if (Status status = writeAt(n, record); !status.ok()) {
        return status;
    }
    return n;
}

QString deletionJournal(const QString& path)
{
    return path + QStringLiteral(".deleting");
}

Status deleteRecords(const RecordOwner::Turn& turn, const QString& tempPath,
                     const QList<ChosenRecord>& chosen, const DeletionSteps& steps,
                     const CompactHook& hook)
{
    const RecordFile& file = turn.file();
    // A deletion a crash stopped is finished first: its numbers are the
    // file's as it was then.
    if (QFileInfo::exists(deletionJournal(file.path()))) {
        if (auto done = completeDeletion(turn, tempPath, steps); !done.ok()) {
            return done.status();
        }
    }
    const qint64 count = file.wholeCount();
    QList<qint64> numbers;
    for (const ChosenRecord& c : chosen) {
        const Result<QByteArray> now = file.read(c.number);
        if (!now.ok() || !sameRecord(now.value(), c.bytes, file.layout())) {
            return {StoreError::Changed, QStringLiteral("record %1").arg(c.number)};
        }
        numbers.append(c.number);
    }
    return beginDeletion(turn, tempPath, numbers, count, steps, hook);
}

Status deleteFirst(const RecordOwner::Turn& turn, const QString& tempPath, qint64 count,
                   const DeletionSteps& steps, const CompactHook& hook)
{
    const RecordFile& file = turn.file();
    if (QFileInfo::exists(deletionJournal(file.path()))) {
        if (auto done = completeDeletion(turn, tempPath, steps); !done.ok()) {
            return done.status();
        }
    }
    const qint64 whole = file.wholeCount();
    if (count > whole) {
        return {StoreError::Changed, QStringLiteral("%1 of %2 records").arg(count).arg(whole)};
    }
    QList<qint64> numbers;
    numbers.reserve(count);
    for (qint64 n = 1; n <= count; ++n) {
        numbers.append(n);
    }
    return beginDeletion(turn, tempPath, numbers, whole, steps, hook);
}

Result<RecordFile::Recovery> completeDeletion(const RecordOwner::Turn& turn,
                                              const QString& tempPath, const DeletionSteps& steps)
{
    const RecordFile& file = turn.file();
    const QString journalPath = deletionJournal(file.path());
    if (!QFileInfo::exists(journalPath)) {
        Result<RecordFile::Recovery> recovered = file.recover(tempPath);
        if (recovered.ok() && recovered.value().repaired) {
            turn.replacedFile();
        }
        return recovered;
    }
    const std::optional<Journal> journal = readJournal(journalPath);
    if (!journal) {
        // A journal cut short by a crash before it was complete: nothing
        // was marked yet.
        QFile::remove(journalPath);
        return RecordFile::Recovery{};
    }
    // A temporary file is this program's own half-made copy: the data file
    // is still whole.
    QFile::remove(tempPath);
    (void)file.dropPartialTail();
    Status status = carryOut(turn, tempPath, *journal, steps, {}, false);
    if (!status.ok()) {
        return status;
    }
    return RecordFile::Recovery{true, {}};
}

} // namespace lumora
