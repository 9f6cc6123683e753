#pragma once

#include "store/status.h"

#include <QFile>
#include <QSet>
#include <QString>

// The unique IDs (POP3 UIDL) of the mails already in the received-mail file,
// so that a mail still on the server is never stored twice: after a crash
// before its deletion was committed, or when mail is kept on the server.
//
// The file holds one account's IDs as lines of text:
//   account <id>@<server>
//   ? <record number> <uid>   about to be stored as that record
//   + <uid>                   stored
// Lines are appended without waiting for the disk; the receive cycle flushes
// the file system once before the server deletes anything.
namespace lumora {

class UidStore {
public:
    UidStore(QString path, QString account);

    // Reads the file. Another account's IDs are forgotten. A mail that was
    // about to be stored counts as stored when its record is in the file
    // (storedRecords whole records), and as not stored otherwise.
    Status load(qint64 storedRecords);

    bool contains(const QString& uid) const { return stored_.contains(uid); }

    Status willStore(const QString& uid, qint64 recordNumber);
    Status stored(const QString& uid);

    // Forgets every ID not in the list (the mails on the server now) and
    // rewrites the file in one step.
    Status keepOnly(const QSet<QString>& onServer);

    // True for an ID this store can hold: 1 to 70 printable ASCII characters.
    static bool isUsable(const QString& uid);

private:
    Status appendLine(const QByteArray& line);

    QString path_;
    QFile file_; // open for appending while lines are added
    QString account_;
    QSet<QString> stored_;
    bool headerWritten_ = false;
};

} // namespace lumora
