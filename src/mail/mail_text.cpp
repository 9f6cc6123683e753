#include "mail/mail_text.h"

#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <optional>

namespace lumora::mailtext {
namespace {

bool has8Bit(QByteArrayView bytes)
{
    return std::any_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

bool hasJisEscape(QByteArrayView bytes)
{
    for (const char* escape : {"\x1b$B", "\x1b$@", "\x1b(I", "\x1b(J", "\x1b$(D", "\x1b$(Q"}) {
        if (bytes.contains(QByteArrayView(escape))) {
            return true;
        }
    }
    return false;
}

// Decodes with an ICU converter; ok is false when the converter does not
// exist or met bytes it cannot read.
QString decodeWith(QByteArrayView bytes, const char* name, bool* ok = nullptr)
{
    QStringDecoder decoder(name, QStringDecoder::Flag::Stateless);
    if (!decoder.isValid()) {
        if (ok) {
            *ok = false;
        }
        return {};
    }
    QString text = decoder.decode(bytes);
    if (ok) {
        *ok = !decoder.hasError();
    }
    return text;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(QByteArrayView bytes)
{
    qsizetype i = 0;
    const qsizetype n = bytes.size();
    while (i < n) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            low = b == 0xE0 ? 0xA0 : 0x80;
            high = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            low = b == 0xF0 ? 0x90 : 0x80;
            high = b == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + length > n) {
            return false;
        }
        for (int k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            const unsigned char lo = k == 1 ? low : 0x80;
            const unsigned char hi = k == 1 ? high : 0xBF;
            if (c < lo || c > hi) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

// How much decoded text looks like Japanese: kana, kanji and full-width forms
// count for, half-width kana a little against (rare in real text, and what
// EUC-JP bytes become when read as CP932), anything else foreign more.
int japaneseScore(const QString& text)
{
    int score = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80) {
            continue;
        }
        if ((u >= 0x3000 && u <= 0x30FF) || (u >= 0x4E00 && u <= 0x9FFF) ||
            (u >= 0xFF01 && u <= 0xFF5E)) {
            score += 2;
        } else if (u >= 0xFF61 && u <= 0xFF9F) {
            score -= 1;
        } else {
            score -= 3;
        }
    }
    return score;
}

// The converter for a MIME charset label, or an empty name when the label
// asks for a guess.
QByteArray converterFor(QByteArrayView charset)
{
    QByteArray label = charset.toByteArray().trimmed().toLower();
    if (label.startsWith('"') && label.endsWith('"') && label.size() >= 2) {
        label = label.mid(1, label.size() - 2);
    }
    if (const qsizetype star = label.indexOf('*'); star >= 0) {
        label.truncate(star); // RFC 2231 language suffix
    }
    static const QHash<QByteArray, QByteArray> aliases = {
        {"iso-2022-jp", "ISO-2022-JP"},
        {"csiso2022jp", "ISO-2022-JP"},
        {"iso-2022-jp-1", "ISO-2022-JP"},
        {"iso-2022-jp-3", "ISO-2022-JP"},
        {"iso-2022-jp-ms", "ISO-2022-JP"},
        {"cp50220", "ISO-2022-JP"},
        {"cp50221", "ISO-2022-JP"},
        {"cp50222", "ISO-2022-JP"},
        {"shift_jis", "windows-31j"},
        {"shift-jis", "windows-31j"},
        {"sjis", "windows-31j"},
        {"x-sjis", "windows-31j"},
        {"ms_kanji", "windows-31j"},
        {"csshiftjis", "windows-31j"},
        {"windows-31j", "windows-31j"},
        {"cp932", "windows-31j"},
        {"ms932", "windows-31j"},
        {"x-ms-cp932", "windows-31j"},
        {"shift_jisx0213", "windows-31j"},
        {"euc-jp", "EUC-JP"},
        {"x-euc-jp", "EUC-JP"},
        {"eucjp", "EUC-JP"},
        {"cseucpkdfmtjapanese", "EUC-JP"},
        {"utf-8", "UTF-8"},
        {"utf8", "UTF-8"},
        {"unicode-1-1-utf-8", "UTF-8"},
    };
    if (const auto it = aliases.constFind(label); it != aliases.cend()) {
        return it.value();
    }
    if (label.isEmpty() || label == "us-ascii" || label == "ascii" || label == "unknown-8bit" ||
        label == "x-unknown" || label == "default") {
        return {};
    }
    return label;
}

// ISO-2022-JP as Windows and mobile mailers write it (CP50220 and kin):
// JIS X 0208 with the NEC special row and the NEC-selected IBM rows, JIS
// X 0201 kana by escape or by SO/SI. Every two-byte character is turned into
// its CP932 code and the whole decoded as CP932. JIS X 0212 characters, which
// CP932 lacks, become 〓.
QString decodeIso2022Jp(QByteArrayView bytes)
{
    enum class Mode { Ascii, Kanji, Kana, Supplement };
    Mode mode = Mode::Ascii;
    bool shiftedOut = false;
    QByteArray sjis;
    sjis.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b == 0x1B) {
            const QByteArrayView rest = bytes.sliced(i);
            const auto startsWith = [&](const char* seq) {
                return rest.startsWith(QByteArrayView(seq));
            };
            if (startsWith("\x1b$B") || startsWith("\x1b$@")) {
                mode = Mode::Kanji;
                i += 2;
            } else if (startsWith("\x1b$(Q") || startsWith("\x1b$(O") || startsWith("\x1b$(B")) {
                mode = Mode::Kanji;
                i += 3;
            } else if (startsWith("\x1b$(D")) {
                mode = Mode::Supplement;
                i += 3;
            } else if (startsWith("\x1b(I")) {
                mode = Mode::Kana;
                i += 2;
            } else if (startsWith("\x1b(B") || startsWith("\x1b(J") || startsWith("\x1b(H")) {
                mode = Mode::Ascii;
                i += 2;
            } else {
                sjis.append('?');
            }
            continue;
        }
        if (b == 0x0E) {
            shiftedOut = true;
            continue;
        }
        if (b == 0x0F) {
            shiftedOut = false;
            continue;
        }
        const bool graphic = b >= 0x21 && b <= 0x7E;
        if (graphic && (shiftedOut || mode == Mode::Kana)) {
            sjis.append(static_cast<char>(b + 0x80)); // half-width kana 0xA1..0xDF
            continue;
        }
        if (graphic && (mode == Mode::Kanji || mode == Mode::Supplement) && i + 1 < bytes.size()) {
            const auto b2 = static_cast<unsigned char>(bytes[i + 1]);
            if (b2 >= 0x21 && b2 <= 0x7E) {
                ++i;
                if (mode == Mode::Supplement) {
                    sjis.append("\x81\xac"); // 〓
                    continue;
                }
                const int s1 = ((b + 1) >> 1) + (b <= 0x5E ? 0x70 : 0xB0);
                const int s2 = b2 + ((b & 1) ? (b2 >= 0x60 ? 0x20 : 0x1F) : 0x7E);
                sjis.append(static_cast<char>(s1));
                sjis.append(static_cast<char>(s2));
                continue;
            }
        }
        sjis.append(static_cast<char>(b < 0x80 ? b : '?'));
    }
    return decodeWith(sjis, "windows-31j");
}

QString decodeGuessed(QByteArrayView bytes)
{
    const QByteArray charset = guessCharset(bytes);
    if (charset == "US-ASCII") {
        return QString::fromLatin1(bytes);
    }
    if (charset == "UTF-8") {
        return QString::fromUtf8(bytes);
    }
    if (charset == "ISO-2022-JP") {
        return decodeIso2022Jp(bytes);
    }
    return decodeWith(bytes, charset == "CP932" ? "windows-31j" : charset.constData());
}

} // namespace

QByteArray guessCharset(QByteArrayView bytes)
{
    if (!has8Bit(bytes)) {
        return hasJisEscape(bytes) ? QByteArray("ISO-2022-JP") : QByteArray("US-ASCII");
    }
    if (isValidUtf8(bytes)) {
        return "UTF-8";
    }
    bool sjisOk = false;
    bool eucOk = false;
    const QString sjis = decodeWith(bytes, "windows-31j", &sjisOk);
    const QString euc = decodeWith(bytes, "EUC-JP", &eucOk);
    if (sjisOk != eucOk) {
        return sjisOk ? "CP932" : "EUC-JP";
    }
    return japaneseScore(euc) > japaneseScore(sjis) ? "EUC-JP" : "CP932";
}

QString decode(QByteArrayView bytes, QByteArrayView charset)
{
    const QByteArray name = converterFor(charset);
    if (name.isEmpty()) {
        return decodeGuessed(bytes);
    }
    if (name == "UTF-8") {
        return isValidUtf8(bytes) ? QString::fromUtf8(bytes) : decodeGuessed(bytes);
    }
    if (name == "ISO-2022-JP") {
        // a 7-bit label over 8-bit text is a wrong label
        return has8Bit(bytes) ? decodeGuessed(bytes) : decodeIso2022Jp(bytes);
    }
    if ((name.startsWith("iso-8859") || name.startsWith("windows-125")) && has8Bit(bytes) &&
        isValidUtf8(bytes)) {
        return QString::fromUtf8(bytes); // UTF-8 sent under a Western label
    }
    bool ok = false;
    QString text = decodeWith(bytes, name.constData(), &ok);
    if (text.isNull() && !bytes.isEmpty()) {
        return decodeGuessed(bytes); // no converter of that name
    }
    return text;
}

namespace {

QByteArray unfold(QByteArrayView raw)
{
    QByteArray out;
    out.reserve(raw.size());
    for (const char c : raw) {
        if (c != '\r' && c != '\n') {
            out.append(c);
        }
    }
    return out;
}

struct Segment {
    bool encoded;
    QByteArray charset; // encoded words only
    QByteArray bytes;
};

QByteArray decodeQ(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            out.append(' ');
        } else if (c == '=' && i + 2 < text.size()) {
            bool ok = false;
            const int value = text.sliced(i + 1, 2).toByteArray().toInt(&ok, 16);
            if (ok) {
                out.append(static_cast<char>(value));
                i += 2;
            } else {
                out.append(c);
            }
        } else {
            out.append(c);
        }
    }
    return out;
}

// Splits a header value into literal text and encoded words. Linear in the
// length of the value: an encoded word is looked for only within
// kMaxEncodedWord bytes of its "=?", and once no "?=" follows, none can.
QList<Segment> segments(const QByteArray& text)
{
    constexpr qsizetype kMaxEncodedWord = 8192;
    QList<Segment> list;
    QByteArray literal;
    qsizetype i = 0;
    qsizetype lastClose = text.lastIndexOf("?=");
    while (i < text.size()) {
        const qsizetype open = text.indexOf("=?", i);
        if (open < 0 || lastClose < open + 2) {
            literal.append(text.sliced(i));
            break;
        }
        literal.append(text.sliced(i, open - i));
        i = open;
        const QByteArrayView window =
            QByteArrayView(text).sliced(i, std::min<qsizetype>(kMaxEncodedWord, text.size() - i));
        const qsizetype q1 = window.indexOf('?', 2);
        const qsizetype q2 = q1 < 0 ? -1 : window.indexOf('?', q1 + 1);
        const qsizetype end = q2 < 0 ? -1 : window.indexOf("?=", q2 + 1);
        if (q1 > 2 && q2 == q1 + 2 && end > q2) {
            const QByteArrayView charset = window.sliced(2, q1 - 2);
            const char encoding = static_cast<char>(window[q1 + 1] | 0x20);
            const QByteArrayView payload = window.sliced(q2 + 1, end - q2 - 1);
            if ((encoding == 'b' || encoding == 'q') && !charset.contains(' ') &&
                !payload.contains(' ')) {
                if (!literal.isEmpty()) {
                    list.append({false, {}, literal});
                    literal.clear();
                }
                list.append({true, charset.toByteArray(),
                             encoding == 'b' ? QByteArray::fromBase64(payload.toByteArray())
                                             : decodeQ(payload)});
                i += end + 2;
                continue;
            }
        }
        literal.append("=?");
        i += 2;
    }
    if (!literal.isEmpty()) {
        list.append({false, {}, literal});
    }
    return list;
}

bool isBlank(const QByteArray& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == ' ' || c == '\t'; });
}

// True when a CP932 reading of the bytes takes an ASCII letter between two
// other letters as the second byte of a double-byte character: "café" read
// as CP932 swallows what follows the é. Japanese text has a double-byte
// character or a space around such a byte.
bool breaksLetters(QByteArrayView bytes)
{
    const auto letter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    for (qsizetype i = 0; i + 1 < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            continue;
        }
        const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        if (lead && letter(bytes[i + 1]) && i > 0 && letter(bytes[i - 1]) &&
            (i + 2 >= bytes.size() || letter(bytes[i + 2]))) {
            return true;
        }
        i += lead ? 1 : 0;
    }
    return false;
}

// A reading that is plainly not the text: bytes it could not read, or
// characters of the private-use area (CP932's user-defined rows among them),
// which no sender's header holds.
bool plausible(const QString& text, bool ok)
{
    if (!ok || text.isNull()) {
        return false;
    }
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() == 0xFFFD || (c.unicode() >= 0xE000 && c.unicode() <= 0xF8FF);
    });
}

// Raw 8-bit bytes in a header: strict UTF-8, else the charset the mail
// declares for its text, else the Japanese guess, else windows-1252, which
// reads every byte.
QString decodeRaw8Bit(QByteArrayView bytes, QByteArrayView declared)
{
    if (isValidUtf8(bytes)) {
        return QString::fromUtf8(bytes);
    }
    const auto readAs = [&](const QByteArray& name) -> std::optional<QString> {
        if (name.isEmpty() || name == "UTF-8" || name == "ISO-2022-JP") {
            return std::nullopt;
        }
        bool ok = false;
        QString text = decodeWith(bytes, name.constData(), &ok);
        if (!plausible(text, ok) || (name == "windows-31j" && breaksLetters(bytes))) {
            return std::nullopt;
        }
        return text;
    };
    if (auto text = readAs(converterFor(declared))) {
        return *text;
    }
    const QByteArray guessed = guessCharset(bytes);
    if (auto text = readAs(guessed == "CP932" ? QByteArray("windows-31j") : guessed)) {
        return *text;
    }
    return decodeWith(bytes, "windows-1252");
}

QString decodeLiteral(QByteArrayView bytes, QByteArrayView declared)
{
    if (has8Bit(bytes)) {
        return decodeRaw8Bit(bytes, declared);
    }
    if (hasJisEscape(bytes)) {
        return decodeGuessed(bytes);
    }
    return QString::fromLatin1(bytes);
}

} // namespace

QString decodeHeader(QByteArrayView raw)
{
    return decodeHeader(raw, {});
}

QString decodeHeader(QByteArrayView raw, QByteArrayView declared)
{
    const QList<Segment> all = segments(unfold(raw));
    // White space between two encoded words is not part of the text.
    QList<Segment> parts;
    parts.reserve(all.size());
    for (qsizetype i = 0; i < all.size(); ++i) {
        if (i > 0 && i + 1 < all.size() && !all[i].encoded && all[i - 1].encoded &&
            all[i + 1].encoded && isBlank(all[i].bytes)) {
            continue;
        }
        parts.append(all[i]);
    }
    // Adjacent words of one charset are one run of bytes.
    QList<Segment> joined;
    for (Segment& part : parts) {
        if (part.encoded && !joined.isEmpty() && joined.last().encoded &&
            joined.last().charset.compare(part.charset, Qt::CaseInsensitive) == 0) {
            joined.last().bytes.append(part.bytes);
        } else {
            joined.append(std::move(part));
        }
    }
    QString text;
    for (const Segment& part : joined) {
        text +=
            part.encoded ? decode(part.bytes, part.charset) : decodeLiteral(part.bytes, declared);
    }
    return text;
}

namespace {

QByteArray percentDecode(QByteArrayView text)
{
    return QByteArray::fromPercentEncoding(text.toByteArray());
}

struct Piece {
    int index;     // -1 for an unnumbered parameter
    bool extended; // name ended in '*': charset'language'%XX
    QByteArray value;
};

} // namespace

HeaderValue parseHeaderValue(QByteArrayView raw)
{
    const QByteArray text = unfold(raw);
    HeaderValue result;
    qsizetype i = 0;
    while (i < text.size() && text[i] != ';') {
        ++i;
    }
    result.value = text.left(i).trimmed().toLower();

    QMap<QByteArray, QList<Piece>> pieces;
    QMap<QByteArray, QByteArray> plain;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ';' || text[i] == ' ' || text[i] == '\t')) {
            ++i;
        }
        const qsizetype nameStart = i;
        while (i < text.size() && text[i] != '=' && text[i] != ';') {
            ++i;
        }
        if (i >= text.size() || text[i] != '=') {
            continue; // a parameter without a value
        }
        QByteArray name = text.mid(nameStart, i - nameStart).trimmed().toLower();
        ++i;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
            ++i;
        }
        QByteArray value;
        if (i < text.size() && text[i] == '"') {
            ++i;
            while (i < text.size() && text[i] != '"') {
                if (text[i] == '\\' && i + 1 < text.size()) {
                    ++i;
                }
                value.append(text[i]);
                ++i;
            }
            ++i; // the closing quote
            while (i < text.size() && text[i] != ';') {
                ++i;
            }
        } else {
            const qsizetype start = i;
            while (i < text.size() && text[i] != ';') {
                ++i;
            }
            value = text.mid(start, i - start).trimmed();
        }
        if (name.isEmpty()) {
            continue;
        }
        const qsizetype star = name.indexOf('*');
        if (star < 0) {
            plain.insert(name, value);
            continue;
        }
        const QByteArray base = name.left(star);
        const QByteArray rest = name.mid(star + 1); // "", "0", "0*", "1", ...
        Piece piece{-1, false, value};
        if (rest.isEmpty()) {
            piece.extended = true;
        } else {
            bool ok = false;
            piece.extended = rest.endsWith('*');
            piece.index = (piece.extended ? rest.chopped(1) : rest).toInt(&ok);
            if (!ok) {
                continue;
            }
        }
        pieces[base].append(piece);
    }

    for (auto it = plain.cbegin(); it != plain.cend(); ++it) {
        const QByteArray& value = it.value();
        result.params.insert(it.key(),
                             value.contains("=?") ? decodeHeader(value) : decodeLiteral(value, {}));
    }
    for (auto it = pieces.begin(); it != pieces.end(); ++it) {
        QList<Piece>& list = it.value();
        std::stable_sort(list.begin(), list.end(),
                         [](const Piece& a, const Piece& b) { return a.index < b.index; });
        QByteArray charset;
        QByteArray bytes;
        bool first = true;
        for (const Piece& piece : list) {
            QByteArray value = piece.value;
            if (piece.extended && first) {
                // charset'language'text
                const qsizetype q1 = value.indexOf('\'');
                const qsizetype q2 = q1 < 0 ? -1 : value.indexOf('\'', q1 + 1);
                if (q2 > q1) {
                    charset = value.left(q1);
                    value = value.mid(q2 + 1);
                }
            }
            bytes += piece.extended ? percentDecode(value) : value;
            first = false;
        }
        result.params.insert(it.key(),
                             charset.isEmpty() ? decodeLiteral(bytes, {}) : decode(bytes, charset));
    }
    return result;
}

namespace {

QString resolveEntities(const QString& text)
{
    static const QHash<QString, QString> named = {
        {QStringLiteral("amp"), QStringLiteral("&")},
        {QStringLiteral("lt"), QStringLiteral("<")},
        {QStringLiteral("gt"), QStringLiteral(">")},
        {QStringLiteral("quot"), QStringLiteral("\"")},
        {QStringLiteral("apos"), QStringLiteral("'")},
        {QStringLiteral("nbsp"), QStringLiteral(" ")},
        {QStringLiteral("copy"), QStringLiteral("©")},
        {QStringLiteral("reg"), QStringLiteral("®")},
        {QStringLiteral("yen"), QStringLiteral("¥")},
        {QStringLiteral("hellip"), QStringLiteral("…")},
        {QStringLiteral("mdash"), QStringLiteral("—")},
        {QStringLiteral("ndash"), QStringLiteral("–")},
        {QStringLiteral("laquo"), QStringLiteral("«")},
        {QStringLiteral("raquo"), QStringLiteral("»")},
        {QStringLiteral("middot"), QStringLiteral("·")},
        {QStringLiteral("times"), QStringLiteral("×")},
    };
    static const QRegularExpression entity(
        QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[a-zA-Z]{2,8});"));
    QString out;
    qsizetype last = 0;
    auto matches = entity.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch m = matches.next();
        out += text.mid(last, m.capturedStart() - last);
        const QString name = m.captured(1);
        QString replacement = m.captured(0);
        if (name.startsWith(QLatin1Char('#'))) {
            bool ok = false;
            const uint code = name.startsWith(QStringLiteral("#x"), Qt::CaseInsensitive)
                                  ? name.mid(2).toUInt(&ok, 16)
                                  : name.mid(1).toUInt(&ok, 10);
            if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
                const char32_t c = code;
                replacement = QString::fromUcs4(&c, 1);
            }
        } else if (const auto it = named.constFind(name.toLower()); it != named.cend()) {
            replacement = it.value();
        }
        out += replacement;
        last = m.capturedEnd();
    }
    out += text.mid(last);
    return out;
}

} // namespace

namespace {

// The href of an <a ...> tag's text, entities still in it; empty when none.
QString hrefOf(QStringView tag)
{
    static const QRegularExpression href(
        QStringLiteral("\\bhref\\s*=\\s*(\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = href.match(tag.toString());
    if (!m.hasMatch()) {
        return {};
    }
    for (int group : {2, 3, 4}) {
        if (m.capturedLength(group) > 0) {
            return m.captured(group).trimmed();
        }
    }
    return {};
}

// What a reader should see of a link's address beside its text: the
// address of a web or mail link, nothing for one inside the page or a
// script.
QString shownAddress(const QString& href)
{
    const QString lower = href.toLower();
    if (lower.startsWith(QStringLiteral("mailto:"))) {
        return href.mid(7).section(u'?', 0, 0);
    }
    if (lower.startsWith(QStringLiteral("http://")) ||
        lower.startsWith(QStringLiteral("https://")) ||
        lower.startsWith(QStringLiteral("ftp://"))) {
        return href;
    }
    return {};
}

} // namespace

QString htmlToText(const QString& html)
{
    // One pass over the text, each search going forward only, so that
    // unclosed elements and stray "<" cost no more than the text's length.
    static const QRegularExpression space(QStringLiteral("[ \\t\\r\\n]+"));
    QString source = html;
    source.replace(space, QStringLiteral(" "));
    static const QStringList hidden = {QStringLiteral("script"), QStringLiteral("style"),
                                       QStringLiteral("head"), QStringLiteral("title")};
    static const QStringList breaks = {
        QStringLiteral("br"),   QStringLiteral("/p"),     QStringLiteral("p"),
        QStringLiteral("/div"), QStringLiteral("/tr"),    QStringLiteral("/li"),
        QStringLiteral("/h1"),  QStringLiteral("/h2"),    QStringLiteral("/h3"),
        QStringLiteral("/h4"),  QStringLiteral("/h5"),    QStringLiteral("/h6"),
        QStringLiteral("hr"),   QStringLiteral("/table"), QStringLiteral("/blockquote")};
    QString text;
    text.reserve(source.size());
    // The link being read: its address, and where its text starts.
    QString linkAddress;
    qsizetype linkStart = -1;
    bool closingBracketLeft = true;
    qsizetype i = 0;
    while (i < source.size()) {
        const qsizetype open = source.indexOf(QLatin1Char('<'), i);
        if (open < 0 || !closingBracketLeft) {
            text += QStringView(source).sliced(i);
            break;
        }
        text += QStringView(source).sliced(i, open - i);
        if (QStringView(source).sliced(open).startsWith(u"<!--")) {
            const qsizetype close = source.indexOf(QStringLiteral("-->"), open + 4);
            if (close < 0) {
                break; // an unclosed comment hides the rest
            }
            i = close + 3;
            continue;
        }
        const qsizetype gt = source.indexOf(QLatin1Char('>'), open + 1);
        if (gt < 0) {
            closingBracketLeft = false; // every "<" from here on is text
            text += QLatin1Char('<');
            i = open + 1;
            continue;
        }
        // The tag's name: letters, digits and a leading "/".
        qsizetype nameEnd = open + 1;
        if (nameEnd < gt && source[nameEnd] == QLatin1Char('/')) {
            ++nameEnd;
        }
        while (nameEnd < gt && source[nameEnd].isLetterOrNumber()) {
            ++nameEnd;
        }
        const QString name = source.mid(open + 1, nameEnd - open - 1).toLower();
        i = gt + 1;
        if (hidden.contains(name)) {
            const qsizetype end =
                source.indexOf(QStringLiteral("</") + name, gt + 1, Qt::CaseInsensitive);
            if (end < 0) {
                break; // an unclosed script or style hides the rest
            }
            const qsizetype endGt = source.indexOf(QLatin1Char('>'), end);
            i = endGt < 0 ? source.size() : endGt + 1;
        } else if (breaks.contains(name)) {
            text += QLatin1Char('\n');
        } else if (name == QLatin1String("td") || name == QLatin1String("th")) {
            text += QLatin1Char(' ');
        } else if (name == QLatin1String("a")) {
            linkAddress = shownAddress(hrefOf(QStringView(source).sliced(open, gt - open)));
            linkStart = text.size();
        } else if (name == QLatin1String("/a") && linkStart >= 0) {
            // The address stays beside the link's text, unless the text is it.
            const QString shown = resolveEntities(text.mid(linkStart)).trimmed();
            const QString address = resolveEntities(linkAddress);
            if (!address.isEmpty() && shown != address &&
                shown != QStringLiteral("mailto:") + address) {
                text += QStringLiteral(" (") + linkAddress + u')';
            }
            linkStart = -1;
            linkAddress.clear();
        }
    }
    text = resolveEntities(text);
    // Tidy the lines: no spaces at their ends, at most one empty line.
    QStringList lines = text.split(QLatin1Char('\n'));
    QStringList out;
    int empty = 0;
    for (QString& line : lines) {
        line = line.trimmed();
        if (line.isEmpty()) {
            if (out.isEmpty() || ++empty > 1) {
                continue;
            }
        } else {
            empty = 0;
        }
        out.append(line);
    }
    while (!out.isEmpty() && out.last().isEmpty()) {
        out.removeLast();
    }
    return out.join(QStringLiteral("\r\n"));
}

} // namespace lumora::mailtext
