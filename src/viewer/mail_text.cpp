#include "viewer/mail_text.h"

#include "mail/attachment_files.h"
#include "store/text_codec.h"

namespace lumora::viewer {

QString headerBlock(const QString& subject, const QString& from, const QString& date,
                    const QString& body)
{
    const QString crlf = QStringLiteral("\r\n");
    return QStringLiteral("Subject:  ") + subject + crlf + QStringLiteral("From:  ") + from + crlf +
           QStringLiteral("Date:  ") + date + crlf + QStringLiteral("Body:  ") + body;
}

QString namedMail(const QString& subject, const QString& from)
{
    constexpr int kLine = 60;
    const auto shortened = [](const QString& text) {
        const QString one = text::trimSpaces(text).simplified();
        return one.size() > kLine ? one.left(kLine - 1) + QChar(0x2026) : one;
    };
    const QString s = shortened(subject);
    return QStringLiteral("\r\n\r\n件名: ") + (s.isEmpty() ? QStringLiteral("（件名なし）") : s) +
           QStringLiteral("\r\n差出人: ") + shortened(from);
}

QString quickSaveName(const QString& subject)
{
    // A subject is a line of text, not a path: separators stay in the name
    // as a look-alike instead of cutting it short.
    QString name = subject;
    name.replace(u'/', u'／');
    name.replace(u'\\', u'＼');
    name = text::trimSpaces(name);
    bool anyVisible = false;
    for (const QChar c : name) {
        if (c.unicode() > 0x20 && c != u'.') {
            anyVisible = true;
            break;
        }
    }
    if (!anyVisible) {
        name = QStringLiteral("（件名なし）");
    }
    return attachments::safeFileName(name + QStringLiteral(".txt"));
}

bool BodySearch::search(const QString& body, const QString& needle, Match& match)
{
    return findFrom(body, needle, 1, match);
}

bool BodySearch::findNext(const QString& body, const QString& needle, Match& match)
{
    // With an empty needle and no earlier match the start would be 0, before
    // the body: search from its first character instead.
    return findFrom(body, needle, std::max<qsizetype>(1, needle.size() + last_), match);
}

bool BodySearch::findFrom(const QString& body, const QString& needle, qsizetype start, Match& match)
{
    qsizetype position = 0;
    if (start <= body.size() || (needle.isEmpty() && start <= body.size() + 1)) {
        const qsizetype at = body.indexOf(needle, start - 1, Qt::CaseSensitive);
        position = at < 0 ? 0 : at + 1;
    }
    last_ = position;
    if (position == 0) {
        return false;
    }
    match = {position - 1, needle.size()};
    return true;
}

} // namespace lumora::viewer
