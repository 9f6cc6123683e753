#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// Takes a received mail apart: the header texts, the body to show and the
// attached files. GMime finds the structure and undoes the transfer
// encodings; every charset conversion is our own (mail_text.h).
namespace lumora::mime {

struct Attachment {
    QString name; // as the sender named it, decoded; may be unsafe as a file name
    QByteArray data;
};

// One piece of a mail sent in parts (message/partial).
struct PartialPiece {
    QByteArray id;
    int number = 0;
    int total = 0;    // 0 when this piece does not say
    QByteArray bytes; // the piece's body, to be joined with the others
};

struct DecodedMail {
    QString subject;
    QString date;
    QString from;
    QString to;
    QString cc;
    QByteArray messageId;  // "<...>" as written, or empty
    QByteArray references; // the References field as written, or empty
    QString body;          // lines end in CR LF
    QList<Attachment> attachments;
    std::optional<PartialPiece> partial;
    // What was left out because the mail went beyond the limits below; each
    // sentence is also at the end of the body.
    QStringList omitted;
};

// Beyond these a mail is not decoded further: the rest of its header block
// (its first kMaxHeaderFields fields and kMaxHeaderBytes bytes are kept, and
// the fields that give its structure and its sender, date and subject
// always), files after the first kMaxAttachments, text parts after the first
// kMaxExtraTexts. Every header value is read up to kMaxHeaderValue bytes.
constexpr qsizetype kMaxHeaderBytes = 1024 * 1024;
constexpr int kMaxHeaderFields = 10000;
constexpr qsizetype kMaxHeaderValue = 64 * 1024;
constexpr int kMaxAttachments = 1000;
constexpr int kMaxExtraTexts = 100;

// Decodes a whole mail as received. Never fails: a broken mail gives what
// could be read, and at worst its raw text as the body. Time and memory grow
// linearly with the mail's size.
DecodedMail decodeMail(const QByteArray& raw);

// Base64 as mail carries it: lines of the alphabet ending in CR LF or LF,
// padding only at the very end. Anything else (stray characters, padding in
// the middle, a last group cut short) gives nothing, and is left to GMime's
// more forgiving decoder.
std::optional<QByteArray> decodeBase64Lines(QByteArrayView encoded);

// The whole mail that the pieces of a message/partial carry, in order from 1.
QByteArray joinPartialPieces(const QList<QByteArray>& pieces);

// The files uuencoded into a text ("begin 644 name" ... "end"), and the text
// without them.
struct UuResult {
    QByteArray text;
    QList<Attachment> files;
};
UuResult extractUuencoded(const QByteArray& text);
// The files of BinHex blocks in a text, the blocks taken out of it; a block
// that does not decode stays as it is.
QList<Attachment> extractBinHex(QByteArray& text);

} // namespace lumora::mime
