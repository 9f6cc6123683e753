#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>

// How the program reads numbers typed into boxes and settings files: the
// leading number of a text, the way Windows programs of this kind always have.
namespace lumora::text {

// The numeric value at the start of a text: spaces, tabs and line breaks are
// skipped anywhere inside the number, then an optional sign, digits, an
// optional decimal point and fraction, an optional exponent (E or D), or a
// hexadecimal (&H) or octal (&O) number. Text without a leading number is 0.
double leadingNumber(QStringView text);

// The nearest integer; an exact half goes to the even neighbour.
double roundHalfEven(double value);

// The nearest 16-bit integer, halves to even; values outside the range are
// held at its ends.
std::int16_t toInt16HalfEven(double value);

// The leading integer of a private-profile value: optional spaces, optional
// sign, decimal digits. Text without one is 0.
int leadingInteger(QStringView text);

// A size in megabytes with one decimal ("20.0"), for messages.
QString megabytes(qint64 bytes);

} // namespace lumora::text
