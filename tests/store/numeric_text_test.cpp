#include "store/numeric_text.h"

#include <gtest/gtest.h>

using namespace lumora::text;

TEST(LeadingNumber, ReadsTheNumberAtTheStartOfATextLikeTypedBoxesDo)
{
    EXPECT_EQ(leadingNumber(u"15"), 15.0);
    EXPECT_EQ(leadingNumber(u"  7 minutes"), 7.0);
    EXPECT_EQ(leadingNumber(u"1 2"), 12.0); // blanks inside a number are skipped
    EXPECT_EQ(leadingNumber(u"1.5"), 1.5);
    EXPECT_EQ(leadingNumber(u"-3"), -3.0);
    EXPECT_EQ(leadingNumber(u"2e2x"), 200.0);
    EXPECT_EQ(leadingNumber(u"2ex"), 2.0);
    EXPECT_EQ(leadingNumber(u"&HFF"), 255.0);
    EXPECT_EQ(leadingNumber(u"&HFFFF"), -1.0);
    EXPECT_EQ(leadingNumber(u"&O17"), 15.0);
    EXPECT_EQ(leadingNumber(u"abc"), 0.0);
    EXPECT_EQ(leadingNumber(u""), 0.0);
    EXPECT_EQ(leadingNumber(u"."), 0.0);
    EXPECT_EQ(leadingNumber(u"１"), 0.0); // full-width digits are not digits here
}

TEST(LeadingNumber, Int16RoundsHalvesToEvenAndHoldsAtTheEnds)
{
    EXPECT_EQ(toInt16HalfEven(0.5), 0);
    EXPECT_EQ(toInt16HalfEven(1.5), 2);
    EXPECT_EQ(toInt16HalfEven(2.5), 2);
    EXPECT_EQ(toInt16HalfEven(-1.5), -2);
    EXPECT_EQ(toInt16HalfEven(1.49), 1);
    EXPECT_EQ(toInt16HalfEven(1e9), 32767);
    EXPECT_EQ(toInt16HalfEven(-1e9), -32768);
}

TEST(LeadingInteger, ProfileIntegersTakeTheLeadingDigits)
{
    EXPECT_EQ(leadingInteger(u"15"), 15);
    EXPECT_EQ(leadingInteger(u" -3"), -3);
    EXPECT_EQ(leadingInteger(u"7x"), 7);
    EXPECT_EQ(leadingInteger(u"abc"), 0);
    EXPECT_EQ(leadingInteger(u"1.9"), 1);
    EXPECT_EQ(leadingInteger(u"99999999999"), 2147483647);
}
