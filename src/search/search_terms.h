#pragma once

#include <QByteArray>
#include <QString>

// How text is matched across every stored mail. Text is folded first, so
// that forms a reader takes as the same match each other: full and half
// width (NFKC), katakana and hiragana, upper and lower case. Japanese text
// has no spaces between words, so it is indexed as overlapping pairs of
// characters (and each run's last character alone): any two or more
// characters of it find it, and one character finds it by prefix. Other
// text is indexed by word and found by a word's beginning.
namespace lumora::search {

// The folded form of a text.
QString fold(const QString& text);

// The terms the index keeps for a text, in UTF-8, separated by spaces.
QByteArray indexTerms(const QString& text);

// The index query for what the user typed: every word must match. Empty
// when there is nothing to look for.
QString matchQuery(const QString& typed);

// The same matching without an index, for a scan: true when every word of
// what was typed is in the text (both folded).
bool matchesText(const QString& foldedText, const QString& typed);

} // namespace lumora::search
