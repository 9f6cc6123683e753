#pragma once

#include "mail/mail_library.h"
#include "store/originals.h"
#include "store/paths.h"
#include "store/record_file.h"
#include "store/records.h"

#include <QString>

#include <functional>

// Taking a mail into the received-mail file, the same for a mail fetched
// from the server and for one imported from another program's files: it is
// decoded by the mail library (its attachments written into the attachment
// folder), its original is kept, and its record is appended.
//
// One intake serves one run (a receive cycle, an import) and keeps the
// received-mail file open for it. Nothing is flushed mail by mail: finish()
// flushes everything at once, and only then may the server delete mails.
namespace lumora {

struct TakenMail {
    int decoded = 0; // the library's result: 1, -5, -6, ...
    QString subject;
    QString from;
    QString date;
    QString shown; // the body as shown and stored, with the attachment notice
    MailRecord record;
};

class MailIntake {
public:
    MailIntake(MailLibrary& mail, const AppPaths& paths);

    // Opening the file or the originals' folder failed.
    Status status() const;
    qint64 appendNumber() const { return appender_.appendNumber(); }

    // Decodes a mail whose header and body texts the library's retrieval
    // gave (or that were made from a file the same way).
    TakenMail decode(MailFields& fields, QString& body);
    // The same, with the files written into another folder.
    TakenMail decodeInto(MailFields& fields, QString& body, const QString& attachmentFolder);
    // Keeps the original, then appends the record. The record's number.
    // between, when given, is called after the original is written.
    Result<qint64> store(const TakenMail& mail, const QByteArray& original,
                         const std::function<void()>& between = {});

    // Flushes the records, originals and attachments written so far; false
    // when they may not be on disk. With complete, the run left nothing
    // half done and the originals' change ends.
    bool finish(bool complete);

    const Originals& originals() const { return originals_; }

private:
    MailLibrary& mail_;
    AppPaths paths_;
    QString attachmentFolder_;
    RecordFile file_;
    RecordAppender appender_;
    Originals originals_;
    Status begun_;
    bool wrote_ = false;
};

} // namespace lumora
