#pragma once

#include "store/originals.h"
#include "store/records.h"
#include "store/status.h"
#include "viewer/mail_source.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

// Mail going out to other programs' files and coming in from them: mbox
// (in its mboxrd form, where a body line "From " is quoted as ">From "), a
// folder of .eml files, a Maildir, an MH folder.
namespace lumora::exchange {

// A mail's bytes for export: the original of record number n when it has
// one, else a MIME mail built from the record (ISO-2022-JP when every
// character fits, else UTF-8).
QByteArray mailBytes(qint64 n, const MailRecord& record, const Originals& originals);
QByteArray messageFromRecord(const MailRecord& record);

// One mbox entry for a mail: the "From " line, the mail with LF line ends
// and quoted "From " lines, an empty line.
QByteArray mboxEntry(const QByteArray& mail);

// Called with the mails done and the total; returns false to stop.
using Progress = std::function<bool(int done, int total)>;

struct ExportOutcome {
    int written = 0;
    Status status;
};
// Writes the records' mails to an mbox file (replaced atomically) or, one
// file each, into a folder ("0001 subject.eml" ...).
// The records to export with their numbers, handed to visit in order until
// it returns false.
using Visit = std::function<bool(qint64 n, const MailRecord& record)>;
using Records = std::function<Status(const Visit& visit)>;
// Every whole record of the file, read once.
Records recordsOf(const RecordFile& file);
// Records as they lie in a file, numbered from 1.
Records recordsOf(const QList<MailRecord>& records);
// One record, number n of the file.
Records recordOf(qint64 n, const MailRecord& record);

// Mail by mail: nothing holds more than one mail at a time. total is for
// the progress.
ExportOutcome exportMbox(const Records& records, int total, const Originals& originals,
                         const QString& path, const Progress& progress = {});
ExportOutcome exportEmlFolder(const Records& records, int total, const Originals& originals,
                              const QString& folder, const Progress& progress = {});
// The same for records as they lie in a file, numbered from 1.
ExportOutcome exportMbox(const QList<MailRecord>& records, const Originals& originals,
                         const QString& path, const Progress& progress = {});
ExportOutcome exportEmlFolder(const QList<MailRecord>& records, const Originals& originals,
                              const QString& folder, const Progress& progress = {});

} // namespace lumora::exchange
