#include "store/mail_store.h"

#include "store/records.h"

#include <QDir>
#include <QFileInfo>

namespace lumora {

MailStore::MailStore(const AppPaths& paths)
    : owner_(RecordOwner::of(paths.receivedFile(), MailRecord::kLayout)),
      tempPath_(paths.receivedTemp()), originals_(paths.originalsFolder())
{
}

DeletionSteps MailStore::deletionSteps() const
{
    const Originals originals = originals_;
    return {[originals](const QList<qint64>& dead, qint64 countBefore) {
        return originals.dropEntries(dead, countBefore);
    }};
}

Status MailStore::settle(const RecordOwner::Turn& turn) const
{
    if (QFileInfo::exists(deletionJournal(file().path()))) {
        if (auto done = completeDeletion(turn, tempPath_, deletionSteps()); !done.ok()) {
            return done.status();
        }
    }
    // A record cut short by a crash is no mail; its mail is still on the
    // server (or in the file it is imported from) and comes again.
    (void)file().dropPartialTail();
    if (!QDir().mkpath(originals_.folder())) {
        return {StoreError::OpenFailed, originals_.folder()};
    }
    return originals_.reconcile(file());
}

Result<RecordFile::Recovery> MailStore::completeStoppedDeletion() const
{
    const RecordOwner::Turn turn = owner_->take(Writer::Repair);
    return completeDeletion(turn, tempPath_, deletionSteps());
}

Result<RecordFile::Recovery> MailStore::recover() const
{
    const RecordOwner::Turn turn = owner_->take(Writer::Repair);
    Result<RecordFile::Recovery> recovered = completeDeletion(turn, tempPath_, deletionSteps());
    if (!recovered.ok()) {
        return recovered;
    }
    if (Status settled = settle(turn); !settled.ok()) {
        return settled;
    }
    return recovered;
}

QByteArray MailStore::indexKey(const ChosenRecord& record) const
{
    const std::optional<Originals::Entry> entry = originals_.entryFor(record.number, record.bytes);
    if (!entry) {
        return Originals::recordKey(record.bytes);
    }
    return entry->contentKey.isEmpty() ? entry->recordKey : entry->contentKey;
}

Status MailStore::remove(const QList<ChosenRecord>& chosen, const CompactHook& hook,
                         const DeletionWitness& witness) const
{
    const RecordOwner::Turn turn = owner_->take(Writer::Deletion);
    if (Status settled = settle(turn); !settled.ok()) {
        return settled;
    }
    // The keys are read while the map still names the chosen records.
    QList<QByteArray> keys;
    if (witness) {
        for (const ChosenRecord& record : chosen) {
            keys.append(indexKey(record));
        }
    }
    if (Status deleted = deleteRecords(turn, tempPath_, chosen, deletionSteps(), hook);
        !deleted.ok()) {
        return deleted;
    }
    if (witness) {
        // A mail stored twice keeps its key while one of its records stays.
        const Result<QList<Originals::Entry>> left = originals_.entries();
        QSet<QByteArray> kept;
        for (const Originals::Entry& entry : left.ok() ? left.value() : QList<Originals::Entry>()) {
            kept.insert(entry.contentKey.isEmpty() ? entry.recordKey : entry.contentKey);
        }
        DeletedMails gone;
        for (const QByteArray& key : keys) {
            if (!kept.contains(key)) {
                gone.keys.append(key);
            }
        }
        witness(gone);
    }
    return Status::success();
}

Status MailStore::removeFirst(qint64 count, const CompactHook& hook,
                              const DeletionWitness& witness) const
{
    const RecordOwner::Turn turn = owner_->take(Writer::Deletion);
    if (Status settled = settle(turn); !settled.ok()) {
        return settled;
    }
    if (Status deleted = deleteFirst(turn, tempPath_, count, deletionSteps(), hook);
        !deleted.ok()) {
        return deleted;
    }
    if (witness) {
        // Mail stored while the user was asked stays, and is indexed again
        // from the files.
        witness({{}, true});
    }
    return Status::success();
}

Result<MailStore::StoredKeys> MailStore::storedKeys() const
{
    {
        const RecordOwner::Turn turn = owner_->take(Writer::Import);
        if (Status settled = settle(turn); !settled.ok()) {
            return settled;
        }
    }
    Result<QList<Originals::Entry>> entries = originals_.entries();
    if (!entries.ok()) {
        return entries.status();
    }
    StoredKeys keys;
    for (const Originals::Entry& e : entries.value()) {
        keys.byRecord.insert(e.recordKey, e.contentKey);
        if (!e.contentKey.isEmpty()) {
            keys.contents.insert(e.contentKey);
        }
    }
    return keys;
}

MailStore::Appender::Appender(const MailStore& store, Writer who)
    : store_(store), who_(who), records_(store.file()), map_(store.originals().mapFile())
{
}

MailStore::Appender::~Appender()
{
    finish(false);
}

Status MailStore::Appender::prepare(const RecordOwner::Turn& turn)
{
    if (prepared_ != turn.generation()) {
        // The first turn of the run, or the file was replaced since the
        // last: whatever happened meanwhile is settled before this run
        // writes.
        if (Status settled = store_.settle(turn); !settled.ok()) {
            return settled;
        }
        if (!entered_) {
            entered_ = true;
            if (store_.owner().enterRun()) {
                if (Status begun = store_.originals().begin(); !begun.ok()) {
                    return begun;
                }
            }
        }
    }
    // Each handle is checked against the file under its name every time:
    // a map rewritten when it was brought in step is reopened too.
    const quint64 generation = turn.generation();
    if (Status opened = records_.prepare(generation); !opened.ok()) {
        return opened;
    }
    if (Status opened = map_.prepare(generation); !opened.ok()) {
        return opened;
    }
    prepared_ = generation;
    return Status::success();
}

Result<qint64> MailStore::Appender::append(const QByteArray& record, const QByteArray& original,
                                           const AppendSteps& steps,
                                           const std::optional<Originals::Entry>& keys)
{
    const RecordOwner::Turn turn = store_.owner().take(who_);
    if (Status ready = prepare(turn); !ready.ok()) {
        return ready;
    }
    const qint64 n = records_.appendNumber();
    if (n > kMaxRecords) {
        return Status{StoreError::Full, store_.file().path()};
    }
    // The original and its entry first: a crash before the record leaves an
    // entry the file has no record for and an original no record names,
    // both removed by the next run, never a record whose original is lost.
    Originals::Entry entry{keys ? keys->recordKey : Originals::recordKey(record), {}};
    if (!original.isEmpty()) {
        entry.contentKey = keys ? keys->contentKey : Originals::contentKey(original);
        if (Status status = store_.originals().write(entry, original); !status.ok()) {
            return status; // nothing of this mail is stored or said to be
        }
    }
    if (steps.before) {
        steps.before(n);
    }
    if (steps.between) {
        steps.between();
    }
    if (Status status = map_.writeAt(n, Originals::entryBytes(entry)); !status.ok()) {
        return status;
    }
    if (Status status = records_.writeAt(n, record); !status.ok()) {
        return status;
    }
    if (steps.after) {
        steps.after(n);
    }
    return n;
}

qint64 MailStore::Appender::appendNumber() const
{
    return store_.file().appendNumber();
}

void MailStore::Appender::finish(bool complete)
{
    if (finished_) {
        return;
    }
    finished_ = true;
    if (entered_ && store_.owner().leaveRun(complete)) {
        store_.originals().end();
    }
}

} // namespace lumora
