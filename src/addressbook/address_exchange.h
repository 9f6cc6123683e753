#pragma once

#include "addressbook/address_book.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Address books of other programs: vCard (3.0 and 4.0, and the 2.1 that
// Japanese phones write) and CSV with the column names mail programs use,
// in Japanese or English.
namespace lumora::addresses {

// The window's limits: names of 30 characters, addresses of 60.
constexpr qsizetype kNameCharacters = 30;
constexpr qsizetype kAddressCharacters = 60;

// Every card's name with each of its addresses.
QList<AddressEntry> readVCards(const QByteArray& bytes);
// The rows that have an address; the name from a display-name column, else
// family and given names joined. Empty when no column holds addresses.
QList<AddressEntry> readCsv(const QByteArray& bytes);
// A file by its contents: a vCard when it starts with BEGIN:VCARD.
QList<AddressEntry> readAddressFile(const QByteArray& bytes);

QByteArray writeVCards(const QList<AddressEntry>& entries);
// UTF-8 with a byte-order mark, which spreadsheets need to read it.
QByteArray writeCsv(const QList<AddressEntry>& entries);

struct AddOutcome {
    int added = 0;
    int skipped = 0;   // already in the book, or without an address
    bool full = false; // the book reached its limit; the rest was not added
    Status status;
};
// Adds the entries, cut to the window's limits, that the book does not hold.
AddOutcome addNew(const AddressBook& book, const QList<AddressEntry>& entries);

} // namespace lumora::addresses
