#pragma once

#include "store/originals.h"
#include "store/records.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// A stored mail as its original has it: every header that matters, the
// whole body with every character, the names of its files; and what the
// record lost against it.
namespace lumora::viewer {

struct OriginalMail {
    QString from;
    QString to;
    QString cc;
    QString date;
    QString subject;
    QString body;
    QStringList attachments;
    QByteArray messageId;
    QByteArray references;
};

OriginalMail readOriginal(const QByteArray& raw);

// The text the original's window shows: the header fields that are there,
// an empty line, the body, and the list of attached files.
QString originalText(const OriginalMail& mail);

// A note for the status bar when the record holds less than the original:
// its subject or body cut to the field, or characters replaced. Empty when
// the record holds it all.
QString lossNote(const OriginalMail& mail);

// The header lines that make a reply to the mail part of its thread
// (In-Reply-To and References), or an empty text when it has no Message-ID.
QString threadHeader(const OriginalMail& mail);

} // namespace lumora::viewer
