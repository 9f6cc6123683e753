#pragma once

#include "store/originals.h"
#include "store/record_file.h"

// Deleting received mail, crash-safe: at every moment either the old file or
// the new one is whole under the file's name (see RecordFile::compact). The
// originals no remaining record refers to go with their records; a crash
// between the two leaves originals the next change removes.
namespace lumora::viewer {

// Deletes record n: marks it, compacts the file. When the compaction fails,
// the mark is taken back, so the mail and the list stay as they were.
Status deleteMail(const RecordFile& file, qint64 n, const QString& tempPath,
                  const Originals& originals, const CompactHook& hook = {});

// Replaces the file by an empty one in one atomic step, then removes every
// original.
Status deleteAllMail(const RecordFile& file, const Originals& originals);

} // namespace lumora::viewer
