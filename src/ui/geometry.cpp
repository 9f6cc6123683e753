#include "ui/geometry.h"

#include <QAbstractButton>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <array>
#include <cmath>

namespace lumora::ui {
namespace {

double scale()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return dpi > 0 ? dpi / 96.0 : 1.0;
}

} // namespace

int twips(int value)
{
    return static_cast<int>(std::lround(value / 15.0 * scale()));
}

int pixelsToTwips(int pixels)
{
    return static_cast<int>(std::lround(pixels * 15.0 / scale()));
}

QRect twipsRect(int left, int top, int width, int height)
{
    return {twips(left), twips(top), twips(width), twips(height)};
}

void placeTwips(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(twipsRect(left, top, width, height));
}

QColor paletteColour(int index)
{
    static const std::array<QColor, 16> colours = {
        QColor(0, 0, 0),       QColor(0, 0, 128),   QColor(0, 128, 0),   QColor(0, 128, 128),
        QColor(128, 0, 0),     QColor(128, 0, 128), QColor(128, 128, 0), QColor(192, 192, 192),
        QColor(128, 128, 128), QColor(0, 0, 255),   QColor(0, 255, 0),   QColor(0, 255, 255),
        QColor(255, 0, 0),     QColor(255, 0, 255), QColor(255, 255, 0), QColor(255, 255, 255),
    };
    return colours.at(static_cast<size_t>(index < 0 || index > 15 ? 0 : index));
}

QFont fontFamily(const QString& family, qreal pointSize)
{
    const QStringList installed = QFontDatabase::families();
    QStringList wanted{family};
    if (family == QLatin1String("Book Antiqua")) {
        // Palatino's metric twins, then any serif face.
        wanted << QStringLiteral("P052") << QStringLiteral("TeX Gyre Pagella")
               << QStringLiteral("URW Palladio L") << QStringLiteral("DejaVu Serif");
    } else if (family.contains(QStringLiteral("Ｐ"))) {
        wanted << QStringLiteral("IPAPGothic") << QStringLiteral("Noto Sans CJK JP");
    }
    wanted << QStringLiteral("IPAGothic") << QStringLiteral("Noto Sans CJK JP");
    for (const QString& name : wanted) {
        if (installed.contains(name, Qt::CaseInsensitive)) {
            QFont font(name);
            font.setPointSizeF(pointSize);
            return font;
        }
    }
    QFont font(family);
    font.setPointSizeF(pointSize);
    return font;
}

void setBackgroundColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, colour);
        palette.setColor(group, QPalette::Button, colour);
        palette.setColor(group, QPalette::Window, colour);
    }
    widget->setPalette(palette);
    if (qobject_cast<QAbstractButton*>(widget)) {
        widget->setAutoFillBackground(true);
    }
}

QColor backgroundColour(const QWidget* widget)
{
    return widget->palette().color(QPalette::Active, QPalette::Base);
}

} // namespace lumora::ui
