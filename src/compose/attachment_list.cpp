#include "compose/attachment_list.h"

#include <QFileInfo>

#include <vector>

namespace lumora::compose {

bool pathExists(const QString& path)
{
    return !path.isEmpty() && QFileInfo::exists(path);
}

QStringList AttachmentList::titles() const
{
    QStringList names;
    for (const QString& path : paths_) {
        names.append(QFileInfo(path).fileName());
    }
    return names;
}

void AttachmentList::takeText(const QString& text, const FileExists& exists)
{
    if (text != joined()) {
        paths_ = splitAttachmentText(text, exists);
    }
}

QStringList splitAttachmentText(const QString& text, const FileExists& exists)
{
    const QStringList pieces = text.split(QLatin1Char(','));
    const qsizetype n = pieces.size();
    // best[i]: the split of pieces i.. that names the most existing files,
    // then has the fewest pieces naming nothing.
    struct Choice {
        int found = 0;
        int missing = 0;
        qsizetype next = 0;
        QString path;
    };
    std::vector<Choice> best(static_cast<size_t>(n + 1));
    for (qsizetype i = n - 1; i >= 0; --i) {
        Choice choice;
        bool chosen = false;
        QString segment;
        for (qsizetype j = i; j < n; ++j) {
            segment = j == i ? pieces[i] : segment + QLatin1Char(',') + pieces[j];
            QString path = segment;
            bool found = exists(path);
            if (!found && exists(segment.trimmed())) {
                path = segment.trimmed();
                found = true;
            }
            if (!found && j > i) {
                continue; // a joined piece only when it names a file
            }
            const Choice& rest = best[static_cast<size_t>(j + 1)];
            Choice candidate;
            candidate.next = j + 1;
            if (found) {
                candidate.found = rest.found + 1;
                candidate.missing = rest.missing;
                candidate.path = path;
            } else {
                candidate.path = segment.trimmed();
                candidate.found = rest.found;
                candidate.missing = rest.missing + (candidate.path.isEmpty() ? 0 : 1);
            }
            if (!chosen || candidate.found > choice.found ||
                (candidate.found == choice.found && candidate.missing < choice.missing)) {
                choice = candidate;
                chosen = true;
            }
        }
        best[static_cast<size_t>(i)] = choice;
    }
    QStringList paths;
    for (qsizetype i = 0; i < n; i = best[static_cast<size_t>(i)].next) {
        const QString& path = best[static_cast<size_t>(i)].path;
        if (!path.isEmpty()) {
            paths.append(path);
        }
    }
    return paths;
}

} // namespace lumora::compose
