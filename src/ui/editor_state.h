#pragma once

#include <QString>

#include <algorithm>

#include <array>

// What the editors of the viewer and the compose window share for the whole
// run: the current document, whether the viewer's body changed since it was
// last saved, and one click counter for each of the three style toggles, so
// a toggle pressed in one window decides what the next press does in the
// other. Nothing here is written to disk.
namespace lumora {

enum class TextStyle { Bold = 0, Italic = 1, Underline = 2 };

// The file name the new-document command gives its document.
inline const QString kNewDocumentName = QStringLiteral("新規作成.TXT");

struct EditorState {
    QString CurrentFilePath;
    bool EditorModified = false;
    std::array<qint16, 3> styleClicks{};
    // The caret positions the viewer remembers when it loads the document:
    // the older one, then the newer one.
    std::array<int, 2> caretPositions{};

    // Counts a press of the style's toggle: true when the style goes on (the
    // counter was even; it becomes 1), false when it goes off (it becomes 2).
    bool toggle(TextStyle style)
    {
        qint16& clicks = styleClicks[static_cast<size_t>(style)];
        const bool on = clicks % 2 == 0;
        clicks = on ? 1 : 2;
        return on;
    }

    // The path the new-document command saves to: the folder of the current
    // path (up to and including its last separator) and the new name.
    static QString newDocumentPath(const QString& current)
    {
        const qsizetype slash = std::max(current.lastIndexOf(u'/'), current.lastIndexOf(u'\\'));
        return current.left(slash + 1) + kNewDocumentName;
    }
};

} // namespace lumora
