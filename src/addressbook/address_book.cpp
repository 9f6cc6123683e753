#include "addressbook/address_book.h"

#include "store/file_io.h"
#include "store/records.h"
#include "store/text_codec.h"

namespace lumora {

AddressBook::AddressBook(QString path, QString tempPath)
    : owner_(RecordOwner::of(path, AddressRecord::kLayout)), file_(owner_->file()),
      tempPath_(std::move(tempPath))
{
}

Status AddressBook::ensureExists() const
{
    return file_.ensureExists();
}

Result<QList<AddressEntry>> AddressBook::entries() const
{
    if (Status status = file_.ensureExists(); !status.ok()) {
        return status;
    }
    QList<AddressEntry> list;
    const Status read =
        file_.forEach([&](qint64, const QByteArray& bytes) { list.append(entryOf(bytes)); });
    if (!read.ok()) {
        return read;
    }
    return list;
}

Result<AddressEntry> AddressBook::entry(qint64 n) const
{
    Result<QByteArray> bytes = file_.read(n);
    if (!bytes.ok()) {
        return bytes.status();
    }
    return entryOf(bytes.value());
}

AddressEntry AddressBook::entryOf(const QByteArray& bytes)
{
    const AddressRecord record = AddressRecord::fromBytes(bytes);
    return {text::CutAtNul(record.name()), text::CutAtNul(record.address())};
}

Result<ChosenRecord> AddressBook::chosen(qint64 n) const
{
    Result<QByteArray> bytes = file_.read(n);
    if (!bytes.ok()) {
        return bytes.status();
    }
    return ChosenRecord{n, std::move(bytes).value()};
}

Result<qint64> AddressBook::add(const QString& name, const QString& address) const
{
    const RecordOwner::Turn turn = owner_->take(Writer::AddressBook);
    if (file_.roundedCount() >= kMaxEntries) {
        return Status(StoreError::BadArgument, QStringLiteral("the address book is full"));
    }
    return file_.append(AddressRecord::entry(name, address).bytes());
}

Result<int> AddressBook::addMany(const QList<AddressEntry>& entries) const
{
    const RecordOwner::Turn turn = owner_->take(Writer::AddressBook);
    TurnAppender appender(file_);
    if (Status opened = appender.prepare(turn.generation()); !opened.ok()) {
        return opened;
    }
    int written = 0;
    for (const AddressEntry& entry : entries) {
        if (appender.appendNumber() > kMaxEntries) {
            break;
        }
        const Result<qint64> added =
            appender.append(AddressRecord::entry(entry.name, entry.address).bytes());
        if (!added.ok()) {
            return added.status();
        }
        ++written;
    }
    if (written > 0 && !fileio::syncFileSystem(file_.path())) {
        return Status{StoreError::WriteFailed, file_.path()};
    }
    return written;
}

Status AddressBook::remove(const ChosenRecord& chosen) const
{
    const RecordOwner::Turn turn = owner_->take(Writer::AddressBook);
    return deleteRecords(turn, tempPath_,
                         chosen.number > 0 ? QList<ChosenRecord>{chosen} : QList<ChosenRecord>{});
}

} // namespace lumora
