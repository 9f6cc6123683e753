#include "compose/attachment_list.h"
#include "compose/held_mail.h"
#include "compose/send_job.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "support/sending_mail_library.h"
#include "support/temp_folder.h"

#include <QFile>
#include <QSet>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::compose;
using lumora::test::SendingMailLibrary;
using lumora::test::TempFolder;

namespace {

struct Held {
    TempFolder root;
    HeldMailFile file{root.file(QStringLiteral("krddata10.data")),
                      root.file(QStringLiteral("KRDDATA10.TMP"))};
    QByteArray bytes() const { return root.read(QStringLiteral("krddata10.data")); }
    const QDateTime when{QDate(2026, 12, 8), QTime(14, 5, 9), QTimeZone(9 * 3600)};
};

} // namespace

TEST(HeldMail, HeldMailsComeBackWholeInTheOrderHeld)
{
    Held h;
    const QString longBody = QString(20000, QChar(0x3042)); // 40000 bytes would not fit
    const QString body = QString(16000, QChar(0x3042));     // 32000 bytes: fits exactly
    ASSERT_EQ(
        h.file
            .hold({QStringLiteral(" a@example.jp "), QStringLiteral("一"), QStringLiteral("本文1")},
                  h.when)
            .value(),
        1);
    ASSERT_EQ(
        h.file.hold({QStringLiteral("b@example.jp"), QStringLiteral("二"), body}, h.when).value(),
        2);
    ASSERT_EQ(h.file
                  .hold({QStringLiteral("c@example.jp"), QStringLiteral("三"),
                         QStringLiteral("x").repeated(20000)},
                        h.when)
                  .value(),
              3);

    const QByteArray bytes = h.bytes();
    ASSERT_EQ(bytes.size(), 3 * MailRecord::kLength);
    const MailRecord first = MailRecord::fromBytes(bytes.first(MailRecord::kLength));
    // The recipient in From, trimmed; the time of holding in Date; CR LF and Live 1.
    EXPECT_EQ(first.from().trimmed(), QStringLiteral("a@example.jp"));
    EXPECT_TRUE(first.from().startsWith(QStringLiteral("a@example.jp ")));
    EXPECT_EQ(text::trimSpaces(first.date()), QStringLiteral("Tue, 08 Dec 2026 14:05:09 +0900"));
    EXPECT_EQ(bytes.mid(MailRecord::kLineEnd.offset, 2), QByteArray("\r\n"));
    EXPECT_EQ(first.live(), 1);

    const QStringList subjects = h.file.subjects().value();
    ASSERT_EQ(subjects.size(), 3);
    EXPECT_EQ(subjects[1], QStringLiteral("二") + QString(98, u' ')); // padding kept in the list
    const HeldMail second = h.file.read(2).value();
    EXPECT_EQ(second.to, QStringLiteral("b@example.jp"));
    EXPECT_EQ(second.subject, QStringLiteral("二"));
    EXPECT_EQ(second.body, body);
    EXPECT_EQ(h.file.read(3).value().body.size(), 20000);
    EXPECT_TRUE(heldMailLosses({QString(), QStringLiteral("二"), body}).isEmpty());
    EXPECT_EQ(heldMailLosses({QString(), QString(), longBody}).size(), 1);

    // Deleting the second of three leaves the first and the third, compacted.
    ASSERT_TRUE(h.file.remove(h.file.chosen(2).value()).ok());
    const QByteArray after = h.bytes();
    ASSERT_EQ(after.size(), 64568);
    EXPECT_EQ(after.first(MailRecord::kLength), bytes.first(MailRecord::kLength));
    EXPECT_EQ(after.mid(MailRecord::kLength), bytes.mid(2 * MailRecord::kLength));
    EXPECT_EQ(h.file.subjects().value().size(), 2);
    EXPECT_FALSE(QFile::exists(h.root.file(QStringLiteral("KRDDATA10.TMP"))));
}

TEST(HeldMail, WhatWouldBeLostIsNamedAndAFullFileRefuses)
{
    EXPECT_TRUE(heldMailLosses({QStringLiteral("a@example.jp"), QStringLiteral("件名"),
                                QString(16000, QChar(0x3042))})
                    .isEmpty());
    const QStringList losses =
        heldMailLosses({QStringLiteral("a@example.jp"), QStringLiteral("x").repeated(101),
                        QStringLiteral("絵文字 😀 と é")});
    ASSERT_EQ(losses.size(), 2);
    EXPECT_TRUE(losses[0].startsWith(QStringLiteral("件名が長すぎます")))
        << losses[0].toStdString();
    EXPECT_TRUE(losses[1].startsWith(QStringLiteral("本文に保存できない文字")))
        << losses[1].toStdString();
    // A character CP932 lacks in a long subject: both are said.
    EXPECT_EQ(heldMailLosses({QString(), QStringLiteral("😀").repeated(101), QString()}).size(), 2);

    Held h;
    // 32767 records already (a sparse file): the next number would not fit 16 bits.
    QFile file(h.root.file(QStringLiteral("krddata10.data")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(qint64(32767) * MailRecord::kLength));
    file.close();
    const Result<qint64> refused =
        h.file.hold({QString(), QStringLiteral("件名"), QString()}, h.when);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.status().error(), StoreError::BadArgument);
    EXPECT_EQ(QFileInfo(file).size(), qint64(32767) * MailRecord::kLength);
}

TEST(AttachmentList, PathsWithCommasStayWholeAndHandEditsAreSplitSensibly)
{
    const QSet<QString> files = {QStringLiteral("/d/a.txt"), QStringLiteral("/d/b,c.txt"),
                                 QStringLiteral("/d/報告書,最終版.pdf"),
                                 QStringLiteral("/d/e.txt")};
    const FileExists exists = [&](const QString& p) {
        return files.contains(p);
    };

    AttachmentList list;
    list.set(QStringLiteral("/d/a.txt"));
    list.add(QStringLiteral("/d/b,c.txt"));
    EXPECT_EQ(list.joined(), QStringLiteral("/d/a.txt,/d/b,c.txt"));
    EXPECT_EQ(list.titles(), (QStringList{QStringLiteral("a.txt"), QStringLiteral("b,c.txt")}));
    // The box unchanged: the list as chosen, even with no file checked.
    list.takeText(list.joined(), [](const QString&) { return false; });
    EXPECT_EQ(list.paths().size(), 2);

    EXPECT_EQ(splitAttachmentText(QStringLiteral("/d/報告書,最終版.pdf,/d/a.txt"), exists),
              (QStringList{QStringLiteral("/d/報告書,最終版.pdf"), QStringLiteral("/d/a.txt")}));
    // Blanks after a comma, an empty piece, and a file that is not there.
    EXPECT_EQ(splitAttachmentText(QStringLiteral("/d/a.txt, /d/e.txt,, /d/gone.txt"), exists),
              (QStringList{QStringLiteral("/d/a.txt"), QStringLiteral("/d/e.txt"),
                           QStringLiteral("/d/gone.txt")}));
    EXPECT_EQ(splitAttachmentText(QStringLiteral("/d/b,c.txt,/d/b"), exists),
              (QStringList{QStringLiteral("/d/b,c.txt"), QStringLiteral("/d/b")}));
    EXPECT_TRUE(splitAttachmentText(QString(), exists).isEmpty());
}

TEST(SendJob, EachRecipientGetsOneMailWithTheSameTextAndFailuresAreCollected)
{
    SendingMailLibrary mail;
    mail.results = {0, -1, 0, -1};
    SendRequest request{
        QStringLiteral("smtp.example.jp"),
        QStringLiteral("taro@example.jp"),
        QStringLiteral("件名"),
        QStringLiteral("本文"),
        {QStringLiteral("/d/a.txt")},
        bulkRecipients({QStringLiteral("a@example.jp   "), QStringLiteral("  b@example.jp"),
                        QStringLiteral("c@example.jp"), QStringLiteral("d@example.jp")}),
        {}};
    QStringList seen;
    const SendReport report =
        sendMails(mail, request, nullptr, [&](int i, int n, const QString& to) {
            seen << QStringLiteral("%1/%2 %3").arg(i).arg(n).arg(to);
        });
    ASSERT_EQ(mail.sends.size(), 4);
    // Trailing spaces only are removed from a stored address.
    EXPECT_EQ(mail.sends[0].to, QStringLiteral("a@example.jp"));
    EXPECT_EQ(mail.sends[1].to, QStringLiteral("  b@example.jp"));
    for (const auto& s : mail.sends) {
        EXPECT_EQ(s.server, QStringLiteral("smtp.example.jp"));
        EXPECT_TRUE(s.cc.isNull() && s.bcc.isNull() && s.header.isNull());
        EXPECT_EQ(s.from, QStringLiteral("taro@example.jp"));
        EXPECT_EQ(s.subject, QStringLiteral("件名"));
        EXPECT_EQ(s.attachments, QStringList{QStringLiteral("/d/a.txt")});
        EXPECT_EQ(s.flag, 0);
    }
    EXPECT_EQ(seen.first(), QStringLiteral("1/4 a@example.jp"));
    EXPECT_EQ(report.sent, 2);
    ASSERT_EQ(report.failures.size(), 2);
    EXPECT_EQ(report.failures[1].recipient, QStringLiteral("d@example.jp"));
    EXPECT_FALSE(report.allSent());
    EXPECT_TRUE(report.summary().startsWith(QStringLiteral("4 件中 2 件を送信しました。")));
    EXPECT_TRUE(report.summary().contains(QStringLiteral("  b@example.jp\r\nd@example.jp")));

    // An address that stands twice in the book, in another case or with a
    // name beside it, is mailed once, where it first stands.
    EXPECT_EQ(bulkRecipients({QStringLiteral("a@example.jp"), QStringLiteral("花子<B@Example.jp>"),
                              QStringLiteral("A@EXAMPLE.JP  "), QStringLiteral("b@example.jp"),
                              QStringLiteral("c@example.jp")}),
              (QStringList{QStringLiteral("a@example.jp"), QStringLiteral("花子<B@Example.jp>"),
                           QStringLiteral("c@example.jp")}));

    // The same error for every mail is one text; a stop ends the run early.
    SendingMailLibrary down;
    down.results = {-1, -1, -1};
    down.errorText = QStringLiteral("サーバーに接続できません。");
    std::atomic_bool stop{false};
    request.recipients = {QStringLiteral("a@x.jp"), QStringLiteral("b@x.jp"),
                          QStringLiteral("c@x.jp")};
    const SendReport stopped = sendMails(down, request, &stop, [&](int i, int, const QString&) {
        if (i == 2) {
            stop = true;
        }
    });
    EXPECT_EQ(stopped.distinctMessages(), QStringList{down.errorText});
    EXPECT_EQ(down.sends.size(), 2);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_TRUE(stopped.summary().contains(QStringLiteral("残りの 1 件は送信を中止しました。")));

    // A server certificate refused at the first mail: no other mail meets
    // it again, and each is reported with it.
    SendingMailLibrary untrusted;
    untrusted.results = {-1, -1, -1};
    untrusted.refusedCertificate = ServerCertificate{};
    untrusted.refusedCertificate->fingerprint = QStringLiteral("AB:CD");
    const SendReport refused = sendMails(untrusted, request);
    EXPECT_EQ(untrusted.sends.size(), 1);
    ASSERT_EQ(refused.failures.size(), 3);
    EXPECT_EQ(refused.failures[2].recipient, QStringLiteral("c@x.jp"));
    EXPECT_EQ(refused.distinctMessages().size(), 1);
    ASSERT_TRUE(refused.refusedCertificate());
    EXPECT_EQ(refused.refusedCertificate()->fingerprint, QStringLiteral("AB:CD"));
    EXPECT_FALSE(refused.stopped);
    EXPECT_TRUE(refused.summary().startsWith(QStringLiteral("3 件中 0 件を送信しました。")));
}
