#include "compose/mailto_link.h"

#include <gtest/gtest.h>

using lumora::compose::parseMailto;

TEST(MailtoLink, RecipientsSubjectAndBodyArePercentDecodedUtf8)
{
    const auto link = parseMailto(
        QStringLiteral("MAILTO:taro@example.jp,%E8%8A%B1%E5%AD%90%20%3Chanako@example.jp%3E"
                       "?subject=%E3%81%93%E3%82%93%E3%81%AB%E3%81%A1%E3%81%AF+1"
                       "&body=line1%0D%0Aline2%0Aline3&to=jiro@example.jp&cc=a@x,b@x&BCC=c@x"));
    ASSERT_TRUE(link);
    EXPECT_EQ(link->to, (QStringList{QStringLiteral("taro@example.jp"),
                                     QStringLiteral("花子 <hanako@example.jp>"),
                                     QStringLiteral("jiro@example.jp")}));
    EXPECT_EQ(link->subject, QStringLiteral("こんにちは+1")); // a plus is a plus
    EXPECT_EQ(link->body, QStringLiteral("line1\nline2\nline3"));
    EXPECT_EQ(link->cc, (QStringList{QStringLiteral("a@x"), QStringLiteral("b@x")}));
    EXPECT_EQ(link->bcc, QStringList{QStringLiteral("c@x")});
    EXPECT_TRUE(link->ignored.isEmpty());
}

TEST(MailtoLink, AttachmentsAndOtherHeadersAreIgnoredAndHeadersStayOneLine)
{
    const auto link =
        parseMailto(QStringLiteral("mailto:a@x%0D%0ABcc:%20spy@evil?attach=/home/u/.ssh/id_rsa"
                                   "&Attachment=file:///etc/passwd&from=boss@x&In-Reply-To=%3Cid%3E"
                                   "&subject=hi%0D%0AX-Evil:%201&ATTACH=again"));
    ASSERT_TRUE(link);
    EXPECT_EQ(link->to, QStringList{QStringLiteral("a@x Bcc: spy@evil")}); // never a new header
    EXPECT_EQ(link->subject, QStringLiteral("hi X-Evil: 1"));
    EXPECT_TRUE(link->body.isEmpty());
    EXPECT_EQ(link->ignored, (QStringList{QStringLiteral("attach"), QStringLiteral("attachment"),
                                          QStringLiteral("from"), QStringLiteral("in-reply-to")}));
}

TEST(MailtoLink, NotALinkAndEmptyLinks)
{
    EXPECT_FALSE(parseMailto(QStringLiteral("http://example.jp/")));
    EXPECT_FALSE(parseMailto(QStringLiteral("--demo")));
    const auto empty = parseMailto(QStringLiteral("mailto:"));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->to.isEmpty() && empty->subject.isEmpty());
    const auto onlySubject = parseMailto(QStringLiteral("mailto:?subject=x&&body"));
    ASSERT_TRUE(onlySubject);
    EXPECT_EQ(onlySubject->subject, QStringLiteral("x"));
    EXPECT_TRUE(onlySubject->body.isEmpty());
}
