#pragma once

#include "store/status.h"

#include <QByteArray>
#include <QString>

// Text files the user reads elsewhere too (mails saved as text, the editor's
// documents): CP932 with CR LF, as on Windows, so a folder brought to a
// Windows machine reads them. A text holding a character CP932 cannot keep is
// written as UTF-8 with a byte-order mark instead, rather than losing the
// character to "?".
namespace lumora::textfile {

// The file's bytes for a text whose line ends are already CR LF.
QByteArray encode(const QString& text);

// The text of a file's bytes: UTF-8 when they start with a byte-order mark or
// are valid UTF-8 holding more than ASCII, else CP932.
QString decode(const QByteArray& bytes);

// Replaces the file with the text, atomically.
Status write(const QString& path, const QString& text);
// The file's text; NotFound or ReadFailed.
Result<QString> read(const QString& path);

// The text with every line end (LF, CR or CR LF) as CR LF.
QString withCrLf(const QString& text);

} // namespace lumora::textfile
