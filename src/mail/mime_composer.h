#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// Builds an outgoing mail the way Japanese mailers expect it: ISO-2022-JP
// with B-encoded headers and a 7-bit body when every character fits (half-
// width kana widened first), UTF-8 otherwise; attachments in base64 with
// their names in both the RFC 2231 and the RFC 2047 form.
namespace lumora::mime {

struct OutgoingMail {
    QString from; // "name <address>" or "address"
    QString to;   // one or more, separated by commas
    QString subject;
    QString body;
    QStringList attachments; // file paths
    QDateTime date;
    // Header lines the caller adds; only In-Reply-To and References are
    // taken (a reply's thread), and only with a well-formed value.
    QString headers;
};

struct ComposedMail {
    QByteArray envelopeFrom;
    QList<QByteArray> recipients;
    QByteArray bytes; // CR LF line ends, ready for DATA
};

// The mail, or nothing with a Japanese error text (a control character in a
// header, no usable recipient, an attachment that cannot be read).
std::optional<ComposedMail> compose(const OutgoingMail& mail, QString* error);

// A mail made from a stored mail's texts (for export): From and Date as
// stored, no recipients, the body as its one text part.
QByteArray mailFromTexts(const QString& from, const QString& date, const QString& subject,
                         const QString& body);

// ISO-2022-JP bytes for text, or nothing when a character does not fit.
// Half-width kana are widened; the NEC special characters (①, ㈱ ...) are
// written as Windows does.
std::optional<QByteArray> encodeIso2022Jp(const QString& text);

// Half-width katakana as full-width, voiced marks joined.
QString widenKana(const QString& text);

// A time as mail headers write it: "Tue, 08 Dec 2026 14:05:09 +0900" (an
// invalid time: now).
QByteArray rfc2822Date(const QDateTime& when);

// The address inside "name <address>", or the trimmed text.
QString addressPart(const QString& mailbox);

} // namespace lumora::mime
