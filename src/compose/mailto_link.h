#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// A mailto: link (RFC 6068), as the desktop hands it to the program when the
// user clicks one: recipients, subject and body, percent-encoded UTF-8.
//
// A link only ever fills a compose window for the user to read and send. It
// may not add attachments or other headers: "attach=" and the like, which
// some programs accept, would let a web page pull one of the user's files
// into a mail. Such fields are ignored and named in ignored.
namespace lumora::compose {

struct MailtoLink {
    QStringList to;
    QStringList cc;
    QStringList bcc;
    QString subject;
    QString body;        // line ends as LF
    QStringList ignored; // names of the fields left out
};

// True for text that starts with "mailto:", in any case.
bool isMailtoLink(const QString& text);

// The link's fields; nullopt when text is not a mailto: link. Line breaks in
// recipients and the subject become spaces (a header is one line); the body
// keeps them, as LF.
std::optional<MailtoLink> parseMailto(const QString& text);

} // namespace lumora::compose
