#pragma once

#include <QString>
#include <QStringList>

// What a mail window holds that the user wrote: recipient, subject, body and
// the files attached. The windows compare it with what they were given (an
// empty window, a held mail recalled, a reply filled in) to know whether
// closing would throw away something the user typed or added.
namespace lumora::compose {

struct Draft {
    QString to;
    QString subject;
    QString body;
    QStringList attachments;

    bool operator==(const Draft&) const = default;
};

// True when current holds text or files the user added to start: the
// window was changed from what it was given, and not only by blanks at the
// ends of its texts (a field emptied again counts as nothing written).
bool holdsUnsentText(const Draft& start, const Draft& current);

} // namespace lumora::compose
