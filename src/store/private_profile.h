#pragma once

#include "store/file_io.h"
#include "store/status.h"

#include <QList>
#include <QString>

// Reader and writer of private-profile (INI) files, with the rules Windows
// programs have always relied on: section and key names match without regard
// to case, strings come back cut at 255 bytes, integers are the value's
// leading number, and a write creates the file and the section when missing
// and keeps every other line exactly as it was. Files are CP932 with CR LF.
namespace lumora::profile {

inline constexpr qsizetype kStringLimitBytes = 255;

// The value of the key, trimmed of surrounding blanks and of one pair of
// surrounding quotes, cut at 255 bytes (never inside a double-byte character);
// the default when the file, the section or the key is missing.
QString readString(const QString& path, const QString& section, const QString& key,
                   const QString& fallback = {});

// The leading integer of the value (0 for a value that is not a number); the
// default when the file, section or key is missing or the value is empty.
int readInt(const QString& path, const QString& section, const QString& key, int fallback = 0);

// Sets key=value in the section, creating the file and the section where
// missing. The file is rewritten whole, atomically.
Status writeString(const QString& path, const QString& section, const QString& key,
                   const QString& value, const fileio::WriteOptions& options = {});

struct Entry {
    QString key;
    QString value;
    // The key is taken out of the section instead (nothing when it is missing).
    bool remove = false;
};

// Sets several keys of one section in one rewrite, in the order given, each
// as writeString would: the file holds all of them or none.
Status writeStrings(const QString& path, const QString& section, const QList<Entry>& entries,
                    const fileio::WriteOptions& options = {});

} // namespace lumora::profile
