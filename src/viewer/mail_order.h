#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// The order of the received-mail list: record order, or sorted by a column
// (subject, sender or date) up or down.
namespace lumora::viewer {

enum class SortColumn { None = -1, Subject = 0, Sender = 1, Date = 2 };

struct SortOrder {
    SortColumn column = SortColumn::None;
    bool descending = false;
    bool operator==(const SortOrder&) const = default;
};

// The order a click on a column's heading gives: up, then down, then the
// record order again. A click on another column starts there going up.
SortOrder nextOrder(SortOrder now, int column);

// A mail's time from its Date field: RFC 5322 (with or without the day's
// name, a comment such as "(JST)" after the zone), or none when the field
// holds no date that can be read.
std::optional<QDateTime> mailDate(const QString& field);

// The list's cells of one record.
struct ListedMail {
    QString subject;
    QString sender;
    QString date;
};

// The records (from 0) in the order. Equal values keep their record order;
// a mail without a readable date comes last whichever way dates go.
QList<int> sortedRecords(const QList<ListedMail>& mails, SortOrder order);

// An order of records (from 0) once one of them is deleted: the others keep
// their places, and those after it in the file move up by one.
QList<int> orderWithout(const QList<int>& order, int deleted);

} // namespace lumora::viewer
