#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

class QWidget;

// Window geometry and looks given in the units the forms were designed in.
namespace lumora::ui {

// Pixels for a length in twips (1440 to the inch, 15 to a pixel at 96 dpi),
// scaled with the screen's logical resolution.
int twips(int value);
QRect twipsRect(int left, int top, int width, int height);
// Twips for a length in pixels, the other way round.
int pixelsToTwips(int pixels);

// Places a widget at a rectangle given in twips.
void placeTwips(QWidget* widget, int left, int top, int width, int height);

// Colour n (0 to 15) of the standard 16-colour palette.
QColor paletteColour(int index);

// Gives a box, list or button the background colour, whether it is enabled or not.
void setBackgroundColour(QWidget* widget, const QColor& colour);
// The background colour setBackgroundColour gave.
QColor backgroundColour(const QWidget* widget);

// The named font when it is installed, else the first of the usual
// Japanese fall-backs that is.
QFont fontFamily(const QString& family, qreal pointSize = 9);

} // namespace lumora::ui
