#pragma once

#include "mail/mail_library.h"
#include "search/index_feed.h"
#include "store/file_io.h"
#include "store/mail_store.h"
#include "store/paths.h"
#include "store/record_file.h"
#include "store/records.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Taking a mail into the received-mail file, the same for a mail fetched
// from the server and for one imported from another program's files: it is
// decoded by the mail library (its attachments written into the attachment
// folder), its original is kept, and its record is appended.
//
// One intake serves one run (a receive cycle, an import) and keeps the
// received-mail file open for it. Mails are written in order by a thread of
// the intake's own, while the next mail is fetched and decoded; each write
// takes the file's turn, so a deletion asked for meanwhile goes between two
// mails and the run goes on in the new file. Nothing is flushed mail by
// mail: finish() waits for the writes and flushes everything at once, and
// only then may the server delete mails (while the run goes on, the disk is
// given what was written every few megabytes, so that this last flush is
// short). Each mail written is handed to the
// search index with the texts decoded here; after finish() the index takes
// in the last of them while the run goes on (a receive says goodbye to its
// server meanwhile), and the intake's end waits for it.
namespace lumora {

struct TakenMail {
    int decoded = 0; // the library's result: 1, -5, -6, ...
    QString subject;
    QString from;
    QString date;
    QString body;  // the whole body, as decoded
    QString shown; // the body as shown and stored, with the attachment notice
    QStringList files;
    MailRecord record;
};

// What the writer does around one mail, under the received-mail file's turn
// (see AppendSteps): before (the mail is about to become record number),
// between (its original is kept; a test stops there), after (its record is
// written). Called on the writer's thread.
using StoreSteps = AppendSteps;

class MailIntake {
public:
    MailIntake(MailLibrary& mail, const AppPaths& paths, Writer who = Writer::Receive);
    ~MailIntake();
    MailIntake(const MailIntake&) = delete;
    MailIntake& operator=(const MailIntake&) = delete;

    // The number the next mail given to store() will get, as far as is
    // known now (another run may append first).
    qint64 appendNumber() const;

    // Decodes a mail whose header and body texts the library's retrieval
    // gave (or that were made from a file the same way).
    TakenMail decode(MailFields& fields, QString& body);
    // The same, with the files written into another folder.
    TakenMail decodeInto(MailFields& fields, QString& body, const QString& attachmentFolder);
    // The same for a whole mail's bytes (read from a file).
    TakenMail decodeOriginal(const QByteArray& raw, const QString& attachmentFolder);
    // Hands the mail to the writer: the original first, then the record.
    // The failure of a write of an earlier mail (after which nothing more is
    // written), or success.
    // keys: the record's and the original's, when worked out already.
    Status store(const TakenMail& mail, QByteArray original, StoreSteps steps = {},
                 std::optional<Originals::Entry> keys = std::nullopt);

    // Waits for the writes, then flushes the records, originals and
    // attachments; false when a write failed or they may not be on disk.
    // With complete, the run left nothing half done and the originals'
    // change ends.
    bool finish(bool complete);
    // The mails whose records were written.
    int written() const;
    // The failure of a write, or success.
    Status failure() const;

    const MailStore& store() const { return store_; }

private:
    struct Job {
        QByteArray record;
        QByteArray original;
        StoreSteps steps;
        std::optional<Originals::Entry> keys;
        search::IndexedMail indexed;
    };
    void writeJobs();
    void waitForWrites();

    MailLibrary& mail_;
    AppPaths paths_;
    QString attachmentFolder_;
    MailStore store_;
    MailStore::Appender appender_;
    bool wrote_ = false;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    qint64 queuedBytes_ = 0; // of the records and originals in jobs_
    bool closing_ = false;
    bool busy_ = false;
    int written_ = 0;
    Status failure_;
    std::thread writer_;
    search::IndexFeed index_;
    fileio::FlushAhead flushAhead_;
};

} // namespace lumora
