#include "store/numeric_text.h"

#include <cmath>
#include <limits>

namespace lumora::text {
namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Reads an &H or &O number starting after the '&'. Values wrap to 32 bits,
// as Windows' conversion does.
double radixNumber(QStringView text, qsizetype pos, int radix)
{
    std::uint32_t value = 0;
    for (; pos < text.size(); ++pos) {
        const QChar c = text[pos];
        int digit = -1;
        if (isDigit(c)) {
            digit = c.unicode() - u'0';
        } else if (radix == 16 && c.toLower() >= QLatin1Char('a') &&
                   c.toLower() <= QLatin1Char('f')) {
            digit = c.toLower().unicode() - u'a' + 10;
        }
        if (digit < 0 || digit >= radix) {
            break;
        }
        value = value * static_cast<std::uint32_t>(radix) + static_cast<std::uint32_t>(digit);
    }
    // Up to four hex digits form a 16-bit value, as in &HFFFF = -1.
    if (value <= 0xFFFF && value >= 0x8000) {
        return static_cast<double>(static_cast<std::int16_t>(value));
    }
    return static_cast<double>(static_cast<std::int32_t>(value));
}

} // namespace

double leadingNumber(QStringView text)
{
    qsizetype pos = 0;
    const auto skipBlanks = [&] {
        while (pos < text.size() && isBlank(text[pos])) {
            ++pos;
        }
    };
    skipBlanks();
    if (pos + 1 < text.size() && text[pos] == QLatin1Char('&')) {
        const QChar kind = text[pos + 1].toUpper();
        if (kind == QLatin1Char('H')) {
            return radixNumber(text, pos + 2, 16);
        }
        if (kind == QLatin1Char('O')) {
            return radixNumber(text, pos + 2, 8);
        }
        return 0.0;
    }

    QString number;
    if (pos < text.size() && (text[pos] == QLatin1Char('-') || text[pos] == QLatin1Char('+'))) {
        number.append(text[pos]);
        ++pos;
    }
    bool anyDigit = false;
    bool seenPoint = false;
    for (; pos < text.size(); ++pos) {
        const QChar c = text[pos];
        if (isBlank(c)) {
            continue;
        }
        if (isDigit(c)) {
            number.append(c);
            anyDigit = true;
        } else if (c == QLatin1Char('.') && !seenPoint) {
            number.append(c);
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!anyDigit) {
        return 0.0;
    }
    // An exponent counts only when digits follow it.
    if (pos < text.size() &&
        (text[pos].toUpper() == QLatin1Char('E') || text[pos].toUpper() == QLatin1Char('D'))) {
        qsizetype exp = pos + 1;
        QString exponent = QStringLiteral("e");
        if (exp < text.size() && (text[exp] == QLatin1Char('-') || text[exp] == QLatin1Char('+'))) {
            exponent.append(text[exp]);
            ++exp;
        }
        bool expDigit = false;
        for (; exp < text.size() && (isDigit(text[exp]) || isBlank(text[exp])); ++exp) {
            if (isDigit(text[exp])) {
                exponent.append(text[exp]);
                expDigit = true;
            }
        }
        if (expDigit) {
            number.append(exponent);
        }
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

double roundHalfEven(double value)
{
    if (!std::isfinite(value)) {
        return 0.0;
    }
    return std::nearbyint(value); // the default rounding mode is to nearest, ties to even
}

std::int16_t toInt16HalfEven(double value)
{
    const double rounded = roundHalfEven(value);
    if (rounded <= std::numeric_limits<std::int16_t>::min()) {
        return std::numeric_limits<std::int16_t>::min();
    }
    if (rounded >= std::numeric_limits<std::int16_t>::max()) {
        return std::numeric_limits<std::int16_t>::max();
    }
    return static_cast<std::int16_t>(rounded);
}

int leadingInteger(QStringView text)
{
    qsizetype pos = 0;
    while (pos < text.size() && isBlank(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == QLatin1Char('-') || text[pos] == QLatin1Char('+'))) {
        negative = text[pos] == QLatin1Char('-');
        ++pos;
    }
    long long value = 0;
    for (; pos < text.size() && isDigit(text[pos]); ++pos) {
        value = value * 10 + (text[pos].unicode() - u'0');
        if (value > std::numeric_limits<int>::max()) {
            value = std::numeric_limits<int>::max();
        }
    }
    return static_cast<int>(negative ? -value : value);
}

QString megabytes(qint64 bytes)
{
    return QString::number(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 1);
}

} // namespace lumora::text
