#include "search/search_terms.h"

#include <QStringList>

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

} // namespace

QString fold(const QString& text)
{
    QString folded = text.normalized(QString::NormalizationForm_KC).toCaseFolded();
    for (QChar& c : folded) {
        // Katakana ァ to ヶ as hiragana ぁ to ゖ.
        if (c.unicode() >= 0x30A1 && c.unicode() <= 0x30F6) {
            c = QChar(static_cast<char16_t>(c.unicode() - 0x60));
        }
    }
    return folded;
}

QString indexTerms(const QString& text)
{
    // Written straight into one text: a body of thousands of characters
    // makes as many terms.
    const QString folded = fold(text);
    QString terms;
    terms.reserve(folded.size() * 3);
    const auto separate = [&terms] {
        if (!terms.isEmpty() && terms.back() != u' ') {
            terms += u' ';
        }
    };
    QStringView previous; // the last Japanese character of the run in hand
    bool inWord = false;
    for (qsizetype i = 0; i < folded.size();) {
        const bool pair =
            folded[i].isHighSurrogate() && i + 1 < folded.size() && folded[i + 1].isLowSurrogate();
        const QStringView c = QStringView(folded).mid(i, pair ? 2 : 1);
        const char32_t code =
            pair ? QChar::surrogateToUcs4(folded[i], folded[i + 1]) : folded[i].unicode();
        i += c.size();
        if (unspaced(code)) {
            if (inWord) {
                separate();
                inWord = false;
            }
            if (!previous.isEmpty()) {
                separate();
                terms += previous;
                terms += c;
            }
            previous = c;
            continue;
        }
        // A Japanese run ends: its last character alone.
        if (!previous.isEmpty()) {
            separate();
            terms += previous;
            previous = {};
        }
        if (wordCharacter(code)) {
            if (!inWord) {
                separate();
                inWord = true;
            }
            terms += c;
        } else {
            inWord = false;
        }
    }
    if (!previous.isEmpty()) {
        separate();
        terms += previous;
    }
    if (!terms.isEmpty() && terms.back() == u' ') {
        terms.chop(1);
    }
    return terms;
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
