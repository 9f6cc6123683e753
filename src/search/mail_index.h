#pragma once

#include "store/status.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>

struct sqlite3;

// The word index of the stored mails, an SQLite file with an FTS5 table,
// kept beside the data files. Each mail is indexed once under its key (its
// original's SHA-256, or its record's for mail without one). The index is
// made from the data files and can always be made again: a damaged file is
// removed and made anew; every change is one transaction, so a crash
// leaves the index as it was before the change or after it.
namespace lumora::search {

struct IndexedMail {
    QString subject;
    QString sender;
    QString body;
    QStringList files;
};

class MailIndex {
public:
    explicit MailIndex(QString path);
    ~MailIndex();
    MailIndex(const MailIndex&) = delete;
    MailIndex& operator=(const MailIndex&) = delete;

    // Opens the file, making it when it is missing and anew when it is
    // damaged. A search opens it without the check (which reads the whole
    // file); a damaged file then fails the search, and the next update
    // makes it anew.
    enum class Check { Quick, None };
    Status open(Check check = Check::Quick);
    // Opens the file for searching only: it takes no write lock, so a
    // search never holds up the update that makes the index. NotFound when
    // there is no index yet.
    Status openForReading();
    // Every key indexed.
    Result<QSet<QByteArray>> keys();
    // Adds the mails, in one transaction.
    Status add(const QList<std::pair<QByteArray, IndexedMail>>& mails);
    // The same a mail at a time, for mail that comes as it is stored: a
    // transaction begun, mails inserted (one already indexed is left as it
    // is), then committed, or rolled back after a failure.
    Status begin();
    Status insert(const QByteArray& key, const IndexedMail& mail);
    Status commit();
    void rollback();
    // Removes the mails of these keys, in one transaction.
    Status remove(const QList<QByteArray>& keys);
    // Removes every mail, in one transaction.
    Status clear();
    // The short keys of the mails that match what the user typed.
    Result<QSet<qint64>> find(const QString& typed);
    // A mail's row in the index: its key's first eight bytes (keys are
    // SHA-256 values; two mails that share them are one in the index).
    static qint64 shortKey(const QByteArray& key);

private:
    Status openOnce(Check check);
    Status exec(const char* sql);
    Status failure(const QString& what) const;

    struct Adding;

    QString path_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<Adding> adding_;
};

} // namespace lumora::search
