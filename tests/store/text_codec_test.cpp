#include "store/text_codec.h"

#include <gtest/gtest.h>

#include <QString>

using namespace lumora::text;

namespace {

QByteArray hex(const char* h)
{
    return QByteArray::fromHex(h);
}

} // namespace

TEST(Cp932Text, EitherMemberOfTheSevenPairsStoresAsTheCp932Code)
{
    // JIS form, CP932 form, expected CP932 bytes.
    const struct {
        char16_t jis;
        char16_t cp932;
        const char* bytes;
    } pairs[] = {
        {u'\u301C', u'\uFF5E', "8160"}, {u'\u2212', u'\uFF0D', "817c"},
        {u'\u2016', u'\u2225', "8161"}, {u'\u00A2', u'\uFFE0', "8191"},
        {u'\u00A3', u'\uFFE1', "8192"}, {u'\u00AC', u'\uFFE2', "81ca"},
        {u'\u2014', u'\u2015', "815c"},
    };
    for (const auto& p : pairs) {
        EXPECT_EQ(encodeCp932(QString(QChar(p.jis))), hex(p.bytes)) << p.bytes;
        EXPECT_EQ(encodeCp932(QString(QChar(p.cp932))), hex(p.bytes)) << p.bytes;
        EXPECT_EQ(decodeCp932(hex(p.bytes)), QString(QChar(p.cp932))) << p.bytes;
    }
}

TEST(Cp932Text, WindowsExtensionsHalfWidthKanaAndBackslashRoundTrip)
{
    const QString text = QStringLiteral("①㈱髙ｱｲｳ\\~ＡＢ表");
    const QByteArray bytes = encodeCp932(text);
    EXPECT_FALSE(bytes.contains('?'));
    EXPECT_EQ(decodeCp932(bytes), text);
    EXPECT_EQ(encodeCp932(QStringLiteral("ｱ")), hex("b1"));
    EXPECT_EQ(encodeCp932(QStringLiteral("\\")), hex("5c"));
}

TEST(Cp932Text, CharactersOutsideCp932BecomeQuestionMarks)
{
    // An emoji (a surrogate pair) and Hangul: one '?' each, text around kept.
    EXPECT_EQ(encodeCp932(QStringLiteral("a\U0001F600b한c")), QByteArray("a?b?c"));
}

TEST(Cp932Text, AReadableFormStandsInForWhatCp932Lacks)
{
    // Accents dropped, letters spelt out, typographic signs made plain.
    EXPECT_EQ(readableCp932(QStringLiteral("Café Müller Straße Æsir Łódź")),
              QStringLiteral("Cafe Muller Strasse AEsir Lodz"));
    // Quotes CP932 has stay; the others become plain ones.
    EXPECT_EQ(readableCp932(QStringLiteral("\u2018a\u2019 \u201Eb\u201F «c» d\u2013e ½")),
              QStringLiteral("\u2018a\u2019 \"b\" <<c>> d-e 1/2"));
    // A decomposed accent goes with its letter.
    EXPECT_EQ(readableCp932(QStringLiteral("e\u0301t\u0301e")), QStringLiteral("ete"));
    // No readable form: one 〓 per character as a reader sees it, never '?';
    // a flag, a skin tone and a family joined by ZWJ are one character each.
    EXPECT_EQ(readableCp932(QStringLiteral("あ\U0001F600い한\U0001F44D\U0001F3FDう")),
              QStringLiteral("あ〓い〓〓う"));
    EXPECT_EQ(readableCp932(QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467!")),
              QStringLiteral("〓!"));
    // What fits stays as it is, question marks included.
    const QString japanese = QStringLiteral("①㈱髙ｱ〜？?―");
    EXPECT_EQ(readableCp932(japanese), japanese);
    EXPECT_FALSE(encodeCp932(readableCp932(QStringLiteral("ß\U0001F600é"))).contains('?'));
}

TEST(Cp932Text, GarbageBytesDecodeWithoutLosingTheTextAroundThem)
{
    // 0xA0 and 0xFD are not CP932; 0x82 at the very end is a cut-off lead byte.
    const QString text = decodeCp932(hex("41a042fd43") + QByteArray("\x82", 1));
    EXPECT_EQ(text, QStringLiteral("A\uFFFDB\uFFFDC\uFFFD"));
    // A NUL byte survives decoding, so that readers can cut at it.
    EXPECT_EQ(decodeCp932(QByteArray("ab\0cd", 5)).size(), 5);
}

TEST(Cp932Text, CutNeverSplitsADoubleByteCharacter)
{
    const QByteArray aiu = encodeCp932(QStringLiteral("あいう")); // 6 bytes
    EXPECT_EQ(cutCp932(aiu, 6), aiu);
    EXPECT_EQ(cutCp932(aiu, 5), encodeCp932(QStringLiteral("あい")));
    EXPECT_EQ(cutCp932(aiu, 1), QByteArray());
    EXPECT_EQ(cutCp932(encodeCp932(QStringLiteral("aあ")), 2), QByteArray("a"));
}

TEST(FixedField, PadsCutsAndFillsTheFreedByteWithASpace)
{
    EXPECT_EQ(fixedFieldCp932(QStringLiteral("Taro"), 10), QByteArray("Taro      "));
    // 60 double-byte characters in a 100-byte field keep the first 50.
    const QString sixty = QString(60, QChar(u'あ'));
    const QByteArray subject = fixedFieldCp932(sixty, 100);
    EXPECT_EQ(subject.size(), 100);
    EXPECT_EQ(decodeCp932(subject), QString(50, QChar(u'あ')));
    // A cut inside the third character: two characters and one space.
    EXPECT_EQ(fixedFieldCp932(QStringLiteral("あいう"), 5), encodeCp932(QStringLiteral("あい ")));
    // A JIS-form wave dash stores as the CP932 one.
    EXPECT_EQ(fixedFieldCp932(QStringLiteral("〜"), 3), hex("816020"));
    // Every result is exactly the width, even when characters vanish to '?'.
    EXPECT_EQ(fixedFieldCp932(QStringLiteral("\U0001F600"), 4).size(), 4);
}

TEST(FieldText, CutAtNulAndTrimSpaces)
{
    EXPECT_EQ(CutAtNul(QStringLiteral("abc")), QStringLiteral("abc"));
    EXPECT_EQ(CutAtNul(QString::fromUtf16(u"ab\0cd", 5)), QStringLiteral("ab"));
    EXPECT_EQ(CutAtNul(QString::fromUtf16(u"\0x", 2)), QString());
    EXPECT_EQ(trimSpaces(QStringLiteral("  a b  ")), QStringLiteral("a b"));
    // Only spaces are trimmed; an ideographic space or a tab stays.
    EXPECT_EQ(trimSpaces(QStringLiteral("\u3000a\t ")), QStringLiteral("\u3000a\t"));
}

TEST(Characters, CountAndCutAsAReaderCounts)
{
    // A kana, a letter with a combining mark, a character outside the basic
    // plane and a flag made of two code points: four characters.
    const QString text = QStringLiteral("あe\u0301𠮷🇯🇵");
    EXPECT_EQ(lumora::text::characterCount(text), 4);
    EXPECT_EQ(lumora::text::cutCharacters(text, 3), QStringLiteral("あe\u0301𠮷"));
    EXPECT_EQ(lumora::text::cutCharacters(text, 2), QStringLiteral("あe\u0301"));
    EXPECT_EQ(lumora::text::cutCharacters(text, 4), text);
    EXPECT_EQ(lumora::text::cutCharacters(text, 0), QString());
    EXPECT_EQ(lumora::text::characterCount(QString()), 0);
}
