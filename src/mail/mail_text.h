#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QMap>
#include <QString>

// Text in mail: bytes in whatever charset a sender's program chose, headers
// with encoded words, parameters in the forms of three RFCs. Every conversion
// of received bytes to text goes through here and names the charset it used.
namespace lumora::mailtext {

// The text of bytes in the named charset (a MIME label, case-insensitive).
// ISO-2022-JP is read with the Windows extensions (①, ㈱, 髙, half-width
// kana); every Shift_JIS label is read as CP932. When the label is missing,
// unknown, or plainly wrong for the bytes (8-bit bytes under a 7-bit label,
// invalid UTF-8 under "UTF-8"), the charset is guessed.
QString decode(QByteArrayView bytes, QByteArrayView charset);

// The charset the bytes most likely are in: "ISO-2022-JP" for 7-bit text with
// JIS escapes, "UTF-8" when valid, else "CP932" or "EUC-JP"; "US-ASCII" for
// plain 7-bit text.
QByteArray guessCharset(QByteArrayView bytes);

// A header value as text: folding removed, RFC 2047 encoded words decoded
// (adjacent words of one charset joined as bytes first, so a character split
// between two words survives), raw 8-bit text guessed.
QString decodeHeader(QByteArrayView raw);
// The same, with raw 8-bit text read in this order: strict UTF-8, the
// charset the mail declares for its text, the Japanese guess (unless it
// gives characters no header holds or breaks Latin words apart),
// windows-1252.
QString decodeHeader(QByteArrayView raw, QByteArrayView declared);

// A structured header value such as Content-Type or Content-Disposition.
struct HeaderValue {
    QByteArray value;                 // lower case, e.g. "text/plain"
    QMap<QByteArray, QString> params; // names lower case, values decoded
};
// Parses "value; name=token; name="quoted"; name*0*=charset'lang'%XX ..."
// (RFC 2045/2231, with encoded words and raw 8-bit text inside values as
// mailers send them).
HeaderValue parseHeaderValue(QByteArrayView raw);

// Readable text for an HTML body: tags dropped, block ends as line breaks,
// entities resolved, scripts and styles left out.
QString htmlToText(const QString& html);

} // namespace lumora::mailtext
