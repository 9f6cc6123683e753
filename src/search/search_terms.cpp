#include "search/search_terms.h"

#include <QStringList>

#include <unicode/unorm2.h>

#include <limits>
#include <optional>

namespace lumora::search {
namespace {

// Characters written without spaces between words: kana, kanji, and the
// full-width forms NFKC leaves (the ideographic iteration mark, etc.).
bool unspaced(char32_t c)
{
    return (c >= 0x3005 && c <= 0x3007) || (c >= 0x3040 && c <= 0x30FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x2FFFF);
}

bool wordCharacter(char32_t c)
{
    return QChar::isLetterOrNumber(c) || c == U'_';
}

// The text cut into runs: Japanese runs and word runs, in order; anything
// else separates them.
struct Run {
    QString text;
    bool japanese;
};

QList<Run> runs(const QString& folded)
{
    QList<Run> out;
    Run current{{}, false};
    const auto flush = [&] {
        if (!current.text.isEmpty()) {
            out.append(current);
        }
        current = {{}, false};
    };
    for (const char32_t c : folded.toUcs4()) {
        const bool japanese = unspaced(c);
        if (!japanese && !wordCharacter(c)) {
            flush();
            continue;
        }
        if (!current.text.isEmpty() && current.japanese != japanese) {
            flush();
        }
        current.japanese = japanese;
        current.text += QString::fromUcs4(&c, 1);
    }
    flush();
    return out;
}

// The characters of a run (a character beyond the basic plane is one).
QStringList characters(const QString& run)
{
    QStringList out;
    for (const char32_t c : run.toUcs4()) {
        out.append(QString::fromUcs4(&c, 1));
    }
    return out;
}

QString quoted(const QString& term)
{
    return u'"' + term + u'"';
}

// NFKC with case folding, by ICU in one pass (Qt's own normalization takes
// fifty times as long, and every stored body goes through here); nothing
// when ICU cannot.
std::optional<QString> nfkcCaseFolded(const QString& text)
{
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfkc = unorm2_getNFKCCasefoldInstance(&status);
    if (U_FAILURE(status) || text.size() > std::numeric_limits<int32_t>::max() / 2) {
        return std::nullopt;
    }
    const auto size = static_cast<int32_t>(text.size());
    // Folding seldom lengthens a text; when it does, ICU says by how much.
    int32_t room = size + size / 4 + 16;
    for (int pass = 0; pass < 2; ++pass) {
        QString out(room, Qt::Uninitialized);
        status = U_ZERO_ERROR;
        const int32_t length =
            unorm2_normalize(nfkc, reinterpret_cast<const UChar*>(text.utf16()), size,
                             reinterpret_cast<UChar*>(out.data()), room, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            room = length;
            continue;
        }
        if (U_FAILURE(status)) {
            return std::nullopt;
        }
        out.truncate(length);
        return out;
    }
    return std::nullopt;
}

} // namespace

QString fold(const QString& text)
{
    std::optional<QString> icu = nfkcCaseFolded(text);
    QString folded =
        icu ? std::move(*icu) : text.normalized(QString::NormalizationForm_KC).toCaseFolded();
    for (QChar& c : folded) {
        // Katakana ァ to ヶ as hiragana ぁ to ゖ.
        if (c.unicode() >= 0x30A1 && c.unicode() <= 0x30F6) {
            c = QChar(static_cast<char16_t>(c.unicode() - 0x60));
        }
    }
    return folded;
}

namespace {

// The terms written through a cursor into room made beforehand: a body of
// thousands of characters makes as many terms, and appending byte by byte
// checked the room each time.
class TermWriter {
public:
    // Each UTF-16 unit of the text makes at most 7 bytes: a pair of two
    // 3-byte characters and a space (a run's last character alone is
    // counted in the pair it no longer makes).
    explicit TermWriter(qsizetype units) : out_(units * 8 + 16, Qt::Uninitialized)
    {
        at_ = out_.data();
    }
    void separate()
    {
        if (at_ != out_.data() && at_[-1] != ' ') {
            *at_++ = ' ';
        }
    }
    void add(char32_t c)
    {
        if (c < 0x80) {
            *at_++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *at_++ = static_cast<char>(0xC0 | (c >> 6));
            *at_++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *at_++ = static_cast<char>(0xE0 | (c >> 12));
            *at_++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *at_++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *at_++ = static_cast<char>(0xF0 | (c >> 18));
            *at_++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *at_++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *at_++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    QByteArray take()
    {
        if (at_ != out_.data() && at_[-1] == ' ') {
            --at_;
        }
        out_.truncate(at_ - out_.data());
        return std::move(out_);
    }

private:
    QByteArray out_;
    char* at_;
};

} // namespace

QByteArray indexTerms(const QString& text)
{
    const QString folded = fold(text);
    TermWriter terms(folded.size());
    char32_t previous = 0; // the last Japanese character of the run in hand
    bool inWord = false;
    for (qsizetype i = 0; i < folded.size();) {
        const bool pair =
            folded[i].isHighSurrogate() && i + 1 < folded.size() && folded[i + 1].isLowSurrogate();
        const char32_t code =
            pair ? QChar::surrogateToUcs4(folded[i], folded[i + 1]) : folded[i].unicode();
        i += pair ? 2 : 1;
        if (unspaced(code)) {
            if (inWord) {
                terms.separate();
                inWord = false;
            }
            if (previous != 0) {
                terms.separate();
                terms.add(previous);
                terms.add(code);
            }
            previous = code;
            continue;
        }
        // A Japanese run ends: its last character alone.
        if (previous != 0) {
            terms.separate();
            terms.add(previous);
            previous = 0;
        }
        if (wordCharacter(code)) {
            if (!inWord) {
                terms.separate();
                inWord = true;
            }
            terms.add(code);
        } else {
            inWord = false;
        }
    }
    if (previous != 0) {
        terms.separate();
        terms.add(previous);
    }
    return terms.take();
}

QString matchQuery(const QString& typed)
{
    QStringList parts;
    for (const Run& run : runs(fold(typed))) {
        if (!run.japanese) {
            parts.append(quoted(run.text) + u'*');
            continue;
        }
        const QStringList chars = characters(run.text);
        if (chars.size() == 1) {
            parts.append(quoted(chars[0]) + u'*');
            continue;
        }
        // The pairs one after another: the run itself, anywhere.
        QStringList pairs;
        for (qsizetype i = 0; i + 1 < chars.size(); ++i) {
            pairs.append(chars[i] + chars[i + 1]);
        }
        parts.append(quoted(pairs.join(u' ')));
    }
    return parts.join(u' ');
}

bool matchesText(const QString& foldedText, const QString& typed)
{
    const QList<Run> wanted = runs(fold(typed));
    if (wanted.isEmpty()) {
        return false;
    }
    for (const Run& run : wanted) {
        if (!foldedText.contains(run.text)) {
            return false;
        }
    }
    return true;
}

} // namespace lumora::search
