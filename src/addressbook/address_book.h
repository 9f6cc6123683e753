#pragma once

#include "store/record_owner.h"
#include "store/status.h"

#include <QList>
#include <QString>

// The address book `krddata20.data`: one AddressRecord per entry, numbered
// from 1 in file order. Every operation opens the file, works and closes it;
// nothing is kept between calls, so the compose window and this one always
// see the same entries. Every write takes the file's turn (RecordOwner).
namespace lumora {

struct AddressEntry {
    QString name;    // the Name field, cut at the first NUL, not trimmed
    QString address; // the Address field, the same way
};

class AddressBook {
public:
    // Record numbers are 16-bit.
    static constexpr qint64 kMaxEntries = 32767;

    AddressBook(QString path, QString tempPath);

    // Creates the file empty when it does not exist.
    Status ensureExists() const;

    // Every whole record in file order; a partial tail is no entry.
    Result<QList<AddressEntry>> entries() const;
    // Entry n, or EndOfFile when there is no whole record n.
    Result<AddressEntry> entry(qint64 n) const;
    // Entry n's record as it is now, for a deletion to check against.
    Result<ChosenRecord> chosen(qint64 n) const;
    // The entry a record holds.
    static AddressEntry entryOf(const QByteArray& record);

    // Writes a new entry, as typed, after the last whole record (at the file
    // length / 184 + 1, rounded). Returns its number; BadArgument when the
    // book is full.
    Result<qint64> add(const QString& name, const QString& address) const;
    // Writes new entries after the last, under one turn and one flush (an
    // imported book). Stops at the limit: the number written.
    Result<int> addMany(const QList<AddressEntry>& entries) const;

    // Deletes the chosen entry (as read before the user was asked) through
    // the temporary file; Changed, and nothing deleted, when the record is
    // no longer that entry. An entry number of 0 deletes nothing but entries
    // an older program left half deleted.
    Status remove(const ChosenRecord& chosen) const;

private:
    std::shared_ptr<RecordOwner> owner_;
    RecordFile file_;
    QString tempPath_;
};

} // namespace lumora
