#include "reply/reply_text.h"

#include "store/text_codec.h"

namespace lumora::reply {

ReplyFields replyTo(const QString& subject, const QString& sender, const QString& body)
{
    return {QStringLiteral("Re:  ") + text::trimSpaces(subject), text::trimSpaces(sender),
            text::trimSpaces(body)};
}

QString pastedBody(const QString& clipboard, const QString& receivedBody)
{
    return clipboard + kPasteBreak + text::trimSpaces(receivedBody);
}

ReplyLayout replyLayout(int w, int h)
{
    ReplyLayout layout;
    layout.bodyWidth = static_cast<int>(w * 0.99);
    layout.bodyHeight = static_cast<int>(h * 0.74);
    layout.fieldWidth = static_cast<int>(w * 0.7);
    layout.attachWidth = static_cast<int>(w * 0.4);
    layout.firstLeft = layout.attachWidth + 1240;
    layout.addLeft = layout.attachWidth + 2060;
    layout.cancelLeft = layout.attachWidth + 2940;
    return layout;
}

} // namespace lumora::reply
