#pragma once

#include <QString>

// What the reply window's texts are made of, and where its controls go when
// its size changes (in twips). The arithmetic lives here so that it can be
// checked without a display.
namespace lumora::reply {

// The seven characters "本文に貼付" puts between the pasted text and the
// received one.
inline const QString kPasteBreak = QStringLiteral("\r\n\r\n\r\n\r");

// The reply's recipient, subject and body as the viewer fills them from the
// shown mail.
struct ReplyFields {
    QString subject;
    QString to;
    QString body;
};
// "Re:" and two blanks before the trimmed subject (also when it already
// starts with "Re:"), the trimmed sender, the trimmed body.
ReplyFields replyTo(const QString& subject, const QString& sender, const QString& body);

// The body "本文に貼付" builds: the clipboard's text, the break, and the
// received mail's body with spaces removed at both ends.
QString pastedBody(const QString& clipboard, const QString& receivedBody);

// The controls that follow the window's size.
struct ReplyLayout {
    int bodyWidth = 0;   // BodyText
    int bodyHeight = 0;  // BodyText
    int fieldWidth = 0;  // ToText, SubjectText
    int attachWidth = 0; // AttachText
    int firstLeft = 0;   // AttachCommand "添付"
    int addLeft = 0;     // Command9 "追加"
    int cancelLeft = 0;  // Command10 "取り消し"
};
// The layout for a window w twips wide and h twips high.
ReplyLayout replyLayout(int w, int h);

} // namespace lumora::reply
