#include "compose/draft.h"

namespace lumora::compose {

bool holdsUnsentText(const Draft& start, const Draft& current)
{
    const bool nothing = current.to.trimmed().isEmpty() && current.subject.trimmed().isEmpty() &&
                         current.body.trimmed().isEmpty() && current.attachments.isEmpty();
    if (nothing) {
        return false;
    }
    return current.to.trimmed() != start.to.trimmed() ||
           current.subject.trimmed() != start.subject.trimmed() ||
           current.body.trimmed() != start.body.trimmed() ||
           current.attachments != start.attachments;
}

} // namespace lumora::compose
