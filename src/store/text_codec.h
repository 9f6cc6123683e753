#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The one place where the program turns stored bytes into text and back.
// Every file the program keeps is in CP932 (the Windows form of Shift_JIS);
// the functions here name that charset in their names so that no caller
// converts without saying which charset it means.
namespace lumora::text {

// CP932 bytes for the text. Characters that JIS tables and CP932 map to
// different code points (〜 ～, − －, ‖ ∥, ¢ ￠, £ ￡, ¬ ￢, — ―) are written
// as the CP932 code whichever member of the pair the text holds. A character
// CP932 cannot hold becomes '?', as Windows does.
QByteArray encodeCp932(const QString& text);

// True when every character of the text has a CP932 code, so that it comes
// back from a file exactly as it went in.
bool fitsCp932(const QString& text);

// The text with every character CP932 cannot hold in its closest readable
// form: accents dropped (é → e), letters spelt out (ß → ss, æ → ae),
// typographic quotes and dashes as their plain forms; where there is none,
// 〓 (one per character as a reader counts them), the mark Japanese mail
// programs use for a character they cannot show. Text that fits is returned
// unchanged.
QString readableCp932(const QString& text);

// Text for CP932 bytes. A byte sequence that is not CP932 becomes U+FFFD, one
// per offending byte, so that garbage in a file never stops a read. NUL bytes
// come back as U+0000 (see CutAtNul).
QString decodeCp932(QByteArrayView bytes);

// True for the first byte of a CP932 double-byte character.
bool isCp932LeadByte(unsigned char byte);

// The longest prefix of the CP932 bytes that is at most maxBytes long and does
// not end inside a double-byte character.
QByteArray cutCp932(QByteArrayView bytes, qsizetype maxBytes);

// A fixed-width record field: the text padded with spaces to the width in
// characters, converted to CP932 and cut to the width in bytes. Where the cut
// would split a double-byte character, the freed byte is a space. The result
// is always exactly width bytes long. The caller trims where its record asks
// for it.
QByteArray fixedFieldCp932(const QString& text, qsizetype width);
// The same for the text's readable form (see readableCp932), made only of
// the part that reaches the field.
QByteArray fixedFieldReadableCp932(const QString& text, qsizetype width);

// The text before the first NUL character, or the whole text when it holds none.
QString CutAtNul(const QString& text);

// The text with spaces (U+0020 only) removed at both ends.
QString trimSpaces(const QString& text);

// The number of characters as a reader counts them (a letter with its
// combining marks, or a character outside the basic plane, is one).
qsizetype characterCount(const QString& text);
// The first maxCharacters characters of the text, counted the same way.
QString cutCharacters(const QString& text, qsizetype maxCharacters);

} // namespace lumora::text
