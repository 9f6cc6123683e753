#pragma once

#include "store/records.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// Received-mail files as bytes, for putting in place and reading back.
namespace lumora::test {

inline QByteArray fileOf(const QList<MailRecord>& records)
{
    QByteArray bytes;
    for (const MailRecord& r : records) {
        bytes += r.bytes();
    }
    return bytes;
}

// Every whole record of the bytes, in order.
inline QList<MailRecord> recordsIn(const QByteArray& bytes)
{
    QList<MailRecord> list;
    for (qsizetype at = 0; at + MailRecord::kLength <= bytes.size(); at += MailRecord::kLength) {
        list.append(MailRecord::fromBytes(bytes.mid(at, MailRecord::kLength)));
    }
    return list;
}

inline QStringList subjectsIn(const QByteArray& bytes)
{
    QStringList list;
    for (const MailRecord& r : recordsIn(bytes)) {
        list << r.subject().trimmed();
    }
    return list;
}

} // namespace lumora::test
