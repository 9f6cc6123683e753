#pragma once

// The painted column header of the program's two list views (the mail list
// and the address book): a steel-blue face, the caption in white on one line,
// vertically centred and 5 pixels from the left, a soft raised edge on all
// four sides that turns flat while the item is pressed; a sorted column shows
// ▲ (up) or ▼ (down) at its right end.
//
// Each list window installs the painting when it loads and removes it when it
// is about to close. Installing gives the list's header a style of its own
// that paints only the header items and leaves everything else to the style
// that was in place; removing puts that style back. Nothing else about the
// list changes.

#include <QColor>
#include <QProxyStyle>

class QHeaderView;
class QTreeView;

namespace lumora::ui {

inline constexpr QColor kHeaderFace{58, 119, 165};
inline constexpr QColor kHeaderCaption{255, 255, 255};
// The edge: light above and to the left, dark below and to the right; one
// shadow colour on all four sides while pressed.
inline constexpr QColor kHeaderEdgeLight{255, 255, 255};
inline constexpr QColor kHeaderEdgeDark{64, 64, 64};
inline constexpr QColor kHeaderEdgeFlat{128, 128, 128};

class PaintedHeaderStyle : public QProxyStyle {
    Q_OBJECT
public:
    PaintedHeaderStyle();

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
};

// Installs the painted header on the list's header; installing twice changes
// nothing.
void installPaintedHeader(QTreeView* list);
// Gives the header back the style it had before the install; nothing happens
// when the painted header is not installed.
void removePaintedHeader(QTreeView* list);
bool hasPaintedHeader(const QTreeView* list);

} // namespace lumora::ui
