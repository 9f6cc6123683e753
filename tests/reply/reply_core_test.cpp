#include "reply/reply_text.h"

#include <gtest/gtest.h>

using namespace lumora;

TEST(ReplyText, TheViewerFillsTheReplyTrimmedWithThePrefixAlwaysAdded)
{
    const reply::ReplyFields fields = reply::replyTo(QStringLiteral("  お見積りの件  "),
                                                     QStringLiteral(" 花子 <hanako@example.jp> "),
                                                     QStringLiteral("  \r\n本文です。\r\n  "));
    EXPECT_EQ(fields.subject, QStringLiteral("Re:  お見積りの件"));
    EXPECT_EQ(fields.to, QStringLiteral("花子 <hanako@example.jp>"));
    // Spaces only: the line ends inside stay, as the viewer's text had them.
    EXPECT_EQ(fields.body, QStringLiteral("\r\n本文です。\r\n"));
    // A subject that is already a reply gets the prefix again.
    EXPECT_EQ(reply::replyTo(QStringLiteral("Re: 会議"), {}, {}).subject,
              QStringLiteral("Re:  Re: 会議"));
    EXPECT_EQ(reply::replyTo({}, {}, {}).subject, QStringLiteral("Re:  "));
    EXPECT_TRUE(reply::replyTo({}, {}, QStringLiteral("   ")).body.isEmpty());
}

TEST(ReplyText, ThePasteSetsTheClipboardAboveTheTrimmedReceivedText)
{
    EXPECT_EQ(reply::pastedBody(QStringLiteral("R"), QStringLiteral("  Q  ")),
              QStringLiteral("R\r\n\r\n\r\n\rQ"));
    EXPECT_EQ(reply::kPasteBreak.size(), 7);
    // The clipboard is taken as it is, spaces and all.
    EXPECT_EQ(reply::pastedBody(QStringLiteral(" R "), QString()),
              QStringLiteral(" R \r\n\r\n\r\n\r"));
}

TEST(ReplyText, TheLayoutFollowsTheWindowsSize)
{
    const reply::ReplyLayout l = reply::replyLayout(10000, 8000);
    EXPECT_EQ(l.attachWidth, 4000);
    EXPECT_EQ(l.firstLeft, 5240);
    EXPECT_EQ(l.addLeft, 6060);
    EXPECT_EQ(l.cancelLeft, 6940);
    EXPECT_EQ(l.bodyWidth, 9900);
    EXPECT_EQ(l.fieldWidth, 7000);
    EXPECT_EQ(l.bodyHeight, 5920);
    // Fractions are cut, as the twips are whole numbers.
    const reply::ReplyLayout odd = reply::replyLayout(9999, 7777);
    EXPECT_EQ(odd.attachWidth, 3999);
    EXPECT_EQ(odd.bodyWidth, 9899);
    EXPECT_EQ(odd.bodyHeight, 5754);
}
