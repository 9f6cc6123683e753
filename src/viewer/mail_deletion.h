#pragma once

#include "store/record_file.h"

// Deleting received mail, crash-safe: at every moment either the old file or
// the new one is whole under the file's name (see RecordFile::compact).
namespace lumora::viewer {

// Deletes record n: marks it, compacts the file. When the compaction fails,
// the mark is taken back, so the mail and the list stay as they were.
Status deleteMail(const RecordFile& file, qint64 n, const QString& tempPath,
                  const CompactHook& hook = {});

// Replaces the file by an empty one in one atomic step.
Status deleteAllMail(const RecordFile& file);

} // namespace lumora::viewer
