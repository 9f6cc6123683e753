#include "ui/list_header.h"

#include <QHeaderView>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionHeader>
#include <QTreeView>

namespace lumora::ui {

namespace {

// Where the header keeps the style it had before the install.
constexpr char kSavedStyle[] = "lumoraSavedHeaderStyle";

PaintedHeaderStyle* paintedStyleOf(const QHeaderView* header)
{
    return header ? qobject_cast<PaintedHeaderStyle*>(header->style()) : nullptr;
}

void drawEdge(QPainter* painter, const QRect& rect, bool pressed)
{
    if (rect.width() < 1 || rect.height() < 1) {
        return;
    }
    const QPoint topLeft = rect.topLeft();
    const QPoint topRight = rect.topRight();
    const QPoint bottomLeft = rect.bottomLeft();
    const QPoint bottomRight = rect.bottomRight();
    const QColor light = pressed ? kHeaderEdgeFlat : kHeaderEdgeLight;
    const QColor dark = pressed ? kHeaderEdgeFlat : kHeaderEdgeDark;
    painter->setPen(light);
    painter->drawLine(topLeft, topRight);
    painter->drawLine(topLeft, bottomLeft);
    painter->setPen(dark);
    painter->drawLine(bottomLeft, bottomRight);
    painter->drawLine(topRight, bottomRight);
}

} // namespace

PaintedHeaderStyle::PaintedHeaderStyle() = default;

void PaintedHeaderStyle::drawControl(ControlElement element, const QStyleOption* option,
                                     QPainter* painter, const QWidget* widget) const
{
    const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option);
    if (element != CE_Header || !header) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    painter->save();
    QRect rect = header->rect;
    painter->fillRect(rect, kHeaderFace);
    rect.setRight(rect.right() - 1);
    drawEdge(painter, rect, header->state.testFlag(State_Sunken));
    rect.setLeft(rect.left() + 5);
    painter->setPen(kHeaderCaption);
    painter->setClipRect(rect, Qt::IntersectClip);
    // A sorted column shows which way at its right end.
    const auto* view = qobject_cast<const QHeaderView*>(widget);
    if (header->sortIndicator != QStyleOptionHeader::None && view) {
        const QString arrow = view->sortIndicatorOrder() == Qt::AscendingOrder
                                  ? QStringLiteral("▲")
                                  : QStringLiteral("▼");
        QRect arrowRect = rect.adjusted(0, 0, -4, 0);
        painter->drawText(arrowRect, Qt::AlignRight | Qt::AlignVCenter, arrow);
        rect.setRight(rect.right() - 4 - painter->fontMetrics().horizontalAdvance(arrow));
    }
    painter->drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, header->text);
    painter->restore();
}

void installPaintedHeader(QTreeView* list)
{
    QHeaderView* header = list ? list->header() : nullptr;
    if (!header || paintedStyleOf(header)) {
        return;
    }
    auto* painted = new PaintedHeaderStyle;
    painted->setParent(header);
    header->setProperty(kSavedStyle, QVariant::fromValue(QPointer<QStyle>(header->style())));
    // Pressed items are drawn flat, so the header has to track presses.
    header->setSectionsClickable(true);
    header->setStyle(painted);
}

void removePaintedHeader(QTreeView* list)
{
    QHeaderView* header = list ? list->header() : nullptr;
    PaintedHeaderStyle* painted = paintedStyleOf(header);
    if (!painted) {
        return;
    }
    const auto saved = header->property(kSavedStyle).value<QPointer<QStyle>>();
    header->setStyle(saved);
    header->setProperty(kSavedStyle, {});
    painted->deleteLater();
}

bool hasPaintedHeader(const QTreeView* list)
{
    return list && paintedStyleOf(list->header());
}

} // namespace lumora::ui
