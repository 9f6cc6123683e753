#pragma once

#include <QString>

// The texts the viewer makes of a shown mail: the header block of a mail
// saved as text, the quick-save file name, and the body search.
namespace lumora::viewer {

// "Subject:  …", "From:  …", "Date:  …" and "Body:  " followed by the body,
// joined by CR LF; no CR LF at the end. The body keeps its own line breaks.
QString headerBlock(const QString& subject, const QString& from, const QString& date,
                    const QString& body);

// The lines that name a mail in a question about it: a blank line, then
// "件名: …" and "差出人: …", each cut to a line's worth; "（件名なし）" for
// an empty subject.
QString namedMail(const QString& subject, const QString& from);

// The file name a quick save gives a mail: the subject made safe as a file
// name (no path separators, control characters or names the file system
// refuses, cut to the file system's limit without splitting a character)
// followed by ".txt"; an empty subject gives "（件名なし）.txt".
QString quickSaveName(const QString& subject);

// A search through a body that remembers its last match, as the viewer's
// "検索" and "次を検索" do. Positions count from 1; 0 is no match.
class BodySearch {
public:
    struct Match {
        qsizetype start = 0; // selection start, from 0
        qsizetype length = 0;
    };

    // From the first character.
    bool search(const QString& body, const QString& needle, Match& match);
    // From the last match plus the needle's length.
    bool findNext(const QString& body, const QString& needle, Match& match);

    qsizetype lastPosition() const { return last_; }

private:
    bool findFrom(const QString& body, const QString& needle, qsizetype start, Match& match);

    qsizetype last_ = 0;
};

} // namespace lumora::viewer
