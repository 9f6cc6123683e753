#include "store/text_codec.h"

#include <QHash>
#include <QTextBoundaryFinder>

#include <array>
#include <cerrno>
#include <iconv.h>

namespace lumora::text {
namespace {

// JIS-table code points and the CP932 code points that stand for the same
// characters. glibc's CP932 accepts both, but other converters do not, and
// text compared after a round trip must come back the same.
constexpr std::array<std::pair<char16_t, char16_t>, 7> kJisToCp932 = {{
    {u'\u301C', u'\uFF5E'}, // 〜 -> ～
    {u'\u2212', u'\uFF0D'}, // − -> －
    {u'\u2016', u'\u2225'}, // ‖ -> ∥
    {u'\u00A2', u'\uFFE0'}, // ¢ -> ￠
    {u'\u00A3', u'\uFFE1'}, // £ -> ￡
    {u'\u00AC', u'\uFFE2'}, // ¬ -> ￢
    {u'\u2014', u'\u2015'}, // — -> ―
}};

QString mapJisFormsToCp932(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        for (const auto& [jis, cp932] : kJisToCp932) {
            if (c.unicode() == jis) {
                c = QChar(cp932);
                break;
            }
        }
    }
    return out;
}

class Converter {
public:
    Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (valid()) {
            iconv_close(handle_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    // Back to the initial shift state, for a new text.
    void reset()
    {
        if (valid()) {
            iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        }
    }

    // Converts as much as it can. Returns the number of input bytes consumed
    // when it stopped at a sequence it cannot convert, or the whole length.
    size_t convert(const char*& in, size_t& inLeft, QByteArray& out)
    {
        std::array<char, 4096> buffer{};
        while (inLeft > 0) {
            char* outPtr = buffer.data();
            size_t outLeft = buffer.size();
            // iconv's prototype takes char**, though it never writes the input.
            char* inPtr = const_cast<char*>(in);
            const size_t rc = iconv(handle_, &inPtr, &inLeft, &outPtr, &outLeft);
            const int err = errno;
            in = inPtr;
            out.append(buffer.data(), static_cast<qsizetype>(outPtr - buffer.data()));
            if (rc != static_cast<size_t>(-1)) {
                break;
            }
            if (err == E2BIG) {
                continue;
            }
            return inLeft; // EILSEQ or EINVAL: the caller skips the bad input
        }
        return 0;
    }

private:
    iconv_t handle_;
};

// One converter each way per thread: opening one loads glibc's conversion
// module, which costs more than converting a whole mail.
Converter& toCp932()
{
    thread_local Converter converter("CP932", "UTF-8");
    converter.reset();
    return converter;
}

Converter& fromCp932()
{
    thread_local Converter converter("UTF-8", "CP932");
    converter.reset();
    return converter;
}

// Length of the UTF-8 sequence that starts with this byte (1 for a stray byte).
int utf8SequenceLength(unsigned char lead)
{
    if (lead >= 0xF0) {
        return 4;
    }
    if (lead >= 0xE0) {
        return 3;
    }
    if (lead >= 0xC0) {
        return 2;
    }
    return 1;
}

} // namespace

QByteArray encodeCp932(const QString& text)
{
    const QByteArray utf8 = mapJisFormsToCp932(text).toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    Converter& conv = toCp932();
    if (!conv.valid()) {
        return out;
    }
    const char* in = utf8.constData();
    size_t left = static_cast<size_t>(utf8.size());
    while (left > 0) {
        if (conv.convert(in, left, out) == 0) {
            break;
        }
        // A character CP932 does not hold: write '?' and go on after it.
        const auto skip = static_cast<size_t>(utf8SequenceLength(static_cast<unsigned char>(*in)));
        const size_t step = skip < left ? skip : left;
        in += step;
        left -= step;
        out.append('?');
    }
    return out;
}

bool fitsCp932(const QString& text)
{
    return decodeCp932(encodeCp932(text)) == mapJisFormsToCp932(text);
}

namespace {

bool charFits(const QString& c)
{
    return !c.contains(QLatin1Char('?')) && !encodeCp932(c).contains('?');
}

// Plain forms of letters and signs that no decomposition gives.
QString plainForm(char32_t c)
{
    static const QHash<char32_t, QString> table = {
        {U'ß', QStringLiteral("ss")},     {U'ẞ', QStringLiteral("SS")},
        {U'æ', QStringLiteral("ae")},     {U'Æ', QStringLiteral("AE")},
        {U'œ', QStringLiteral("oe")},     {U'Œ', QStringLiteral("OE")},
        {U'ø', QStringLiteral("o")},      {U'Ø', QStringLiteral("O")},
        {U'đ', QStringLiteral("d")},      {U'Đ', QStringLiteral("D")},
        {U'ð', QStringLiteral("d")},      {U'Ð', QStringLiteral("D")},
        {U'ł', QStringLiteral("l")},      {U'Ł', QStringLiteral("L")},
        {U'þ', QStringLiteral("th")},     {U'Þ', QStringLiteral("Th")},
        {U'ı', QStringLiteral("i")},      {U'ħ', QStringLiteral("h")},
        {U'‘', QStringLiteral("'")},      {U'’', QStringLiteral("'")},
        {U'‚', QStringLiteral("'")},      {U'‛', QStringLiteral("'")},
        {U'“', QStringLiteral("\"")},     {U'”', QStringLiteral("\"")},
        {U'„', QStringLiteral("\"")},     {U'‟', QStringLiteral("\"")},
        {U'«', QStringLiteral("<<")},     {U'»', QStringLiteral(">>")},
        {U'‹', QStringLiteral("<")},      {U'›', QStringLiteral(">")},
        {U'‒', QStringLiteral("-")},      {U'–', QStringLiteral("-")},
        {U'‑', QStringLiteral("-")},      {U'⁃', QStringLiteral("-")},
        {U'…', QStringLiteral("...")},    {U'•', QStringLiteral("・")},
        {U'⁄', QStringLiteral("/")},      {U'©', QStringLiteral("(c)")},
        {U'®', QStringLiteral("(R)")},    {U'€', QStringLiteral("EUR")},
        {U'¡', QStringLiteral("!")},      {U'\u00A0', QStringLiteral(" ")},
        {U'\u2009', QStringLiteral(" ")}, {U'\u202F', QStringLiteral(" ")},
    };
    return table.value(c);
}

bool isMark(char32_t c)
{
    const QChar::Category category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
           category == QChar::Mark_Enclosing || category == QChar::Other_Format ||
           (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0x1F3FB && c <= 0x1F3FF);
}

// One character as a reader counts it, in a form CP932 holds.
QString readableCharacter(const QString& grapheme)
{
    QString out;
    bool lost = false;
    for (const char32_t c : QStringView(grapheme).toUcs4()) {
        const QString one = QString::fromUcs4(&c, 1);
        if (charFits(one)) {
            out += one;
            continue;
        }
        if (isMark(c)) {
            continue; // a combining accent, a variation selector, a joiner
        }
        if (const QString plain = plainForm(c); !plain.isEmpty()) {
            out += plain;
            continue;
        }
        QString decomposed;
        for (const char32_t d : one.normalized(QString::NormalizationForm_KD).toUcs4()) {
            const QString part = QString::fromUcs4(&d, 1);
            if (isMark(d)) {
                continue;
            }
            decomposed += charFits(part) ? part : plainForm(d);
        }
        if (!decomposed.isEmpty() && charFits(decomposed)) {
            out += decomposed;
        } else {
            lost = true;
        }
    }
    return lost ? out + QStringLiteral("〓") : out;
}

} // namespace

QString readableCp932(const QString& text)
{
    const QByteArray encoded = encodeCp932(text);
    if (encoded.count('?') == text.count(QLatin1Char('?'))) {
        return text;
    }
    QString out;
    out.reserve(text.size());
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        const QString grapheme = text.mid(start, end - start);
        start = end;
        if (grapheme.size() == 1 && grapheme[0].unicode() < 0x80) {
            out += grapheme;
        } else {
            out += charFits(grapheme) ? grapheme : readableCharacter(grapheme);
        }
    }
    return out;
}

QString decodeCp932(QByteArrayView bytes)
{
    QByteArray utf8;
    utf8.reserve(bytes.size() * 3 / 2);
    Converter& conv = fromCp932();
    if (!conv.valid()) {
        return {};
    }
    const char* in = bytes.data();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        if (conv.convert(in, left, utf8) == 0) {
            break;
        }
        // One byte that CP932 does not know (or a lead byte cut off at the
        // end): mark it and go on with the next byte, which may be plain ASCII.
        ++in;
        --left;
        utf8.append("\xEF\xBF\xBD");
    }
    return QString::fromUtf8(utf8);
}

bool isCp932LeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

QByteArray cutCp932(QByteArrayView bytes, qsizetype maxBytes)
{
    if (maxBytes <= 0) {
        return {};
    }
    if (bytes.size() <= maxBytes) {
        return bytes.toByteArray();
    }
    qsizetype pos = 0;
    while (pos < maxBytes) {
        const qsizetype width = isCp932LeadByte(static_cast<unsigned char>(bytes[pos])) ? 2 : 1;
        if (pos + width > maxBytes) {
            break;
        }
        pos += width;
    }
    return bytes.first(pos).toByteArray();
}

QByteArray fixedFieldCp932(const QString& text, qsizetype width)
{
    if (width <= 0) {
        return {};
    }
    // Padding with spaces before or after the conversion gives the same
    // bytes; after is cheaper for the 32000-byte body.
    QByteArray field = cutCp932(encodeCp932(text.left(width)), width);
    if (field.size() < width) {
        field.append(QByteArray(width - field.size(), ' '));
    }
    return field;
}

QByteArray fixedFieldReadableCp932(const QString& text, qsizetype width)
{
    if (width <= 0) {
        return {};
    }
    const QString head = text.left(width);
    QByteArray encoded = encodeCp932(head);
    if (encoded.count('?') != head.count(QLatin1Char('?'))) {
        encoded = encodeCp932(readableCp932(head));
    }
    QByteArray field = cutCp932(encoded, width);
    if (field.size() < width) {
        field.append(QByteArray(width - field.size(), ' '));
    }
    return field;
}

QString CutAtNul(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

QString trimSpaces(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' ')) {
        ++begin;
    }
    while (end > begin && text.at(end - 1) == QLatin1Char(' ')) {
        --end;
    }
    return text.mid(begin, end - begin);
}

namespace {

// The position after the first maxCharacters characters, or -1 when the text
// has no more than that many.
qsizetype characterBoundary(const QString& text, qsizetype maxCharacters)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    for (qsizetype pos = finder.toNextBoundary(); pos != -1; pos = finder.toNextBoundary()) {
        if (++count == maxCharacters) {
            return pos < text.size() ? pos : -1;
        }
    }
    return -1;
}

} // namespace

qsizetype characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1) {
        ++count;
    }
    return count;
}

QString cutCharacters(const QString& text, qsizetype maxCharacters)
{
    if (maxCharacters <= 0) {
        return {};
    }
    const qsizetype end = characterBoundary(text, maxCharacters);
    return end < 0 ? text : text.left(end);
}

} // namespace lumora::text
