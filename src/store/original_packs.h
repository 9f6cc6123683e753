#pragma once

#include "store/status.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QSet>
#include <QString>

#include <optional>

// The originals' bytes, packed: many originals to a file, so that taking in
// a thousand mails does not make a thousand files. A pack is a file
// "pack-NNNNNN" in the originals' folder, a run of entries, each a 48-byte
// head then the original's bytes:
//
//   0   8  "LUMORIG1" (kept) or "LUMDEAD1" (removed)
//   8   8  the length of the bytes, little-endian
//   16  32 the SHA-256 of the bytes (the original's content key)
//
// Entries are only ever appended, to the pack of the highest number until it
// passes kPackBytes. A removed entry keeps its head, so the run stays
// readable; its bytes are punched out of the file (zeros, and the disk space
// freed where the file system can), and a pack with no kept entry left is
// removed. What a crash can leave is found on reading: an entry cut short at
// the end (dropped before the next append), or bytes that were never written
// (zeros where the head or bytes should be: the heads are searched for past
// them, and every original read is checked against its key).
//
// Reading needs no turn; appending and removing take the received-mail
// file's (Originals' callers hold it). The heads read are kept per pack for
// the process, and read again when a pack's size changes.
namespace lumora::packs {

inline constexpr qint64 kPackBytes = 64LL * 1024 * 1024;
inline constexpr qint64 kHeadBytes = 48;

// Appends the original with content key key (32 bytes) to the folder's
// packs. Not flushed.
Status append(const QString& folder, QByteArrayView key, const QByteArray& bytes);
// The original of content key key, checked against it; nothing when no pack
// holds it whole.
std::optional<QByteArray> read(const QString& folder, QByteArrayView key);
// Whether a pack holds a kept entry of key whose bytes all reach the file
// (not read, so not checked).
bool has(const QString& folder, QByteArrayView key);
// The content keys of every kept entry.
QSet<QByteArray> keys(const QString& folder);
// Removes every entry whose key is not in keep; the number removed.
int removeAllBut(const QString& folder, const QSet<QByteArray>& keep);
// The packs' file names in the folder.
bool isPackName(const QString& name);
// The SHA-256 of bytes: the content key of an original, and what every
// original read is checked against.
QByteArray sha256(QByteArrayView bytes);

} // namespace lumora::packs
