#include "store/originals.h"
#include "store/records.h"
#include "store/text_file.h"
#include "support/received_file.h"
#include "support/temp_folder.h"
#include "ui/editor_state.h"
#include "viewer/mail_list_model.h"
#include "viewer/mail_order.h"
#include "viewer/mail_text.h"
#include "viewer/viewer_layout.h"

#include <gtest/gtest.h>

#include <QFile>

using namespace lumora;
using lumora::test::subjectsIn;
using lumora::test::TempFolder;

namespace {

QByteArray mails(const QStringList& subjects, const QList<int>& dead = {})
{
    QByteArray bytes;
    for (int i = 0; i < subjects.size(); ++i) {
        MailRecord r = MailRecord::received(subjects[i], QStringLiteral("差出人%1").arg(i + 1),
                                            QStringLiteral("日付%1").arg(i + 1),
                                            QStringLiteral("本文%1").arg(i + 1));
        if (dead.contains(i + 1)) {
            r.setLive(0);
        }
        bytes += r.bytes();
    }
    return bytes;
}

} // namespace

TEST(BodySearch, FindsAndFindsNextAsTheViewerCounts)
{
    viewer::BodySearch search;
    viewer::BodySearch::Match m;
    const QString body = QStringLiteral("abcabc");
    const QString bc = QStringLiteral("bc");
    ASSERT_TRUE(search.search(body, bc, m));
    EXPECT_EQ(m.start, 1);
    EXPECT_EQ(m.length, 2);
    ASSERT_TRUE(search.findNext(body, bc, m));
    EXPECT_EQ(m.start, 4);
    m = {};
    EXPECT_FALSE(search.findNext(body, bc, m)); // starts at 7, past the end
    EXPECT_EQ(search.lastPosition(), 0);
    EXPECT_EQ(m.length, 0);                    // nothing selected
    ASSERT_TRUE(search.findNext(body, bc, m)); // starts at character 2 again
    EXPECT_EQ(m.start, 1);

    // An empty text selects nothing at the start; an absent one finds nothing.
    ASSERT_TRUE(search.search(body, {}, m));
    EXPECT_EQ(m.start, 0);
    EXPECT_EQ(m.length, 0);
    EXPECT_FALSE(search.search(body, QStringLiteral("x"), m));
    // With no match before, an empty text searches from the first character.
    EXPECT_TRUE(search.findNext(body, {}, m));
    // Matching is exact: no folding of case or width.
    EXPECT_FALSE(search.search(body, QStringLiteral("ABC"), m));
    EXPECT_FALSE(search.search(body, QStringLiteral("ａｂｃ"), m));
}

TEST(ViewerText, HeaderBlockAndQuickSaveNames)
{
    EXPECT_EQ(viewer::headerBlock(QStringLiteral("Hello"), QStringLiteral("a@b"),
                                  QStringLiteral("d"), QStringLiteral("one\r\ntwo")),
              QStringLiteral("Subject:  Hello\r\nFrom:  a@b\r\nDate:  d\r\nBody:  one\r\ntwo"));
    EXPECT_EQ(viewer::quickSaveName(QStringLiteral("Hello")), QStringLiteral("Hello.txt"));
    EXPECT_EQ(viewer::quickSaveName(QStringLiteral("会議/予定")), QStringLiteral("会議／予定.txt"));
    EXPECT_EQ(viewer::quickSaveName({}), QStringLiteral("（件名なし）.txt"));
    EXPECT_EQ(viewer::quickSaveName(QStringLiteral("..")), QStringLiteral("（件名なし）.txt"));
    EXPECT_EQ(viewer::quickSaveName(QStringLiteral("a\tb\u0001")), QStringLiteral("a_b_.txt"));
    // Cut to the file system's limit, whole characters only, ".txt" kept.
    const QString longName = viewer::quickSaveName(QString(300, QChar(u'長')));
    EXPECT_LE(longName.toUtf8().size(), 255);
    EXPECT_TRUE(longName.endsWith(QStringLiteral("長.txt")));
}

TEST(ViewerLayout, FollowsTheWindowsSize)
{
    viewer::ViewerLayout layout;
    layout.apply(10000, 8000, 0, 7000, false);
    EXPECT_EQ(layout.list, (viewer::TwipsRect{0, 960, 9900, 2000}));
    EXPECT_EQ(layout.subject, (viewer::TwipsRect{5, 2940, 5000, 375}));
    EXPECT_EQ(layout.sender, (viewer::TwipsRect{5005, 2940, 3000, 375}));
    EXPECT_EQ(layout.date, (viewer::TwipsRect{8005, 2940, 2000, 375}));
    EXPECT_EQ(layout.body, (viewer::TwipsRect{20, 3300, 9900, 3720}));
    EXPECT_EQ(layout.toolbarPanel.width, 10000);
    // The copy field follows where the button was before it moved.
    EXPECT_EQ(layout.copyField.left, 1920 + 3380);
    EXPECT_EQ(layout.copyButton.left, 1880);
    EXPECT_EQ(layout.copyButton.top, 7080);
    layout.apply(10000, 8000, 0, 7000, true);
    EXPECT_EQ(layout.copyField.left, 1880 + 3380);
    EXPECT_EQ(layout.copyButton.top, 8000 - 980);
    EXPECT_EQ(layout.copyField.top, 8000 - 1000);
}

TEST(MailListModel, ListsWholeRecordsInOrderWithCellsCutAtNul)
{
    TempFolder dir;
    QByteArray bytes =
        mails({QStringLiteral("abcdXefg"), QStringLiteral("二"), QStringLiteral("三")}, {2});
    bytes[4] = '\0';                       // the subject's fifth character
    bytes[MailRecord::kLength + 4] = '\0'; // inside the second subject's padding
    dir.write(QStringLiteral("m.data"), bytes + QByteArray(100, 'x')); // a partial tail
    MailListModel model(dir.file(QStringLiteral("m.data")));
    model.reload();
    ASSERT_EQ(model.rowCount(), 3); // the dead record is listed too
    EXPECT_EQ(model.index(0, 0).data().toString(), QStringLiteral("abcd"));
    const QString second = model.index(1, 0).data().toString();
    EXPECT_EQ(second, QStringLiteral("二  ")); // padding kept up to the NUL
    EXPECT_EQ(model.index(2, 1).data().toString().trimmed(), QStringLiteral("差出人3"));
    EXPECT_EQ(model.index(2, 2).data().toString().trimmed(), QStringLiteral("日付3"));
    EXPECT_EQ(model.index(2, 1).data().toString().size(), 90 - 3); // 差出人3: 7 bytes of 90
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("Subject"));
    EXPECT_EQ(model.record(2).value().body().trimmed(), QStringLiteral("本文3"));
}

TEST(MailListModel, ReadsOnlyTheRowsAskedForAndGrowsWithTheFile)
{
    TempFolder dir;
    const QString path = dir.file(QStringLiteral("m.data"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64(30000) * MailRecord::kLength)); // sparse: 1 GB of NULs
    }
    MailListModel model(path);
    model.reload();
    EXPECT_EQ(model.rowCount(), 30000);
    EXPECT_EQ(model.headerReads(), 0);
    for (int row = 29990; row < 30000; ++row) {
        (void)model.index(row, 0).data();
        (void)model.index(row, 2).data();
    }
    EXPECT_EQ(model.headerReads(), 10); // one read per row, cached for the other cells

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(MailRecord::received(QStringLiteral("new"), {}, {}, {}).bytes());
    file.close();
    model.refreshCount();
    EXPECT_EQ(model.rowCount(), 30001);
    EXPECT_EQ(model.index(30000, 0).data().toString().trimmed(), QStringLiteral("new"));
}

TEST(MailOrder, AHeadingGoesUpThenDownThenBackToTheRecordOrder)
{
    using viewer::SortColumn;
    viewer::SortOrder order;
    order = viewer::nextOrder(order, 2);
    EXPECT_EQ(order, (viewer::SortOrder{SortColumn::Date, false}));
    order = viewer::nextOrder(order, 2);
    EXPECT_EQ(order, (viewer::SortOrder{SortColumn::Date, true}));
    EXPECT_EQ(viewer::nextOrder(order, 0), (viewer::SortOrder{SortColumn::Subject, false}));
    EXPECT_EQ(viewer::nextOrder(order, 2), viewer::SortOrder{});
}

TEST(MailOrder, DatesAreReadAsTimesAndUndatedMailComesLastBothWays)
{
    EXPECT_EQ(viewer::mailDate(QStringLiteral("Tue, 08 Dec 2026 18:30:00 +0900")),
              QDateTime(QDate(2026, 12, 8), QTime(9, 30), Qt::UTC));
    EXPECT_EQ(viewer::mailDate(QStringLiteral("8 Dec 2026 18:30:00 +0900 (JST)")),
              QDateTime(QDate(2026, 12, 8), QTime(9, 30), Qt::UTC));
    EXPECT_EQ(viewer::mailDate(QStringLiteral("Tue, 8 Dec 2026 18:30:00 JST")),
              QDateTime(QDate(2026, 12, 8), QTime(9, 30), Qt::UTC));
    EXPECT_FALSE(viewer::mailDate(QStringLiteral("日付なし")));
    EXPECT_FALSE(viewer::mailDate(QString()));

    // As times across zones: Tuesday 23:00 in London is before Wednesday
    // 10:00 in Tokyo. Equal times keep their record order.
    const QList<viewer::ListedMail> mails = {
        {QStringLiteral("a"), {}, QStringLiteral("Wed, 09 Dec 2026 10:00:00 +0900")},
        {QStringLiteral("b"), {}, QString()},
        {QStringLiteral("c"), {}, QStringLiteral("Tue, 08 Dec 2026 23:00:00 +0000")},
        {QStringLiteral("d"), {}, QStringLiteral("壊れた日付")},
        {QStringLiteral("e"), {}, QStringLiteral("Mon, 07 Dec 2026 10:00:00 +0900")},
        {QStringLiteral("f"), {}, QStringLiteral("Wed, 09 Dec 2026 10:00:00 +0900")},
    };
    const viewer::SortOrder up{viewer::SortColumn::Date, false};
    EXPECT_EQ(viewer::sortedRecords(mails, up), (QList<int>{4, 2, 0, 5, 1, 3}));
    const viewer::SortOrder down{viewer::SortColumn::Date, true};
    EXPECT_EQ(viewer::sortedRecords(mails, down), (QList<int>{0, 5, 2, 4, 1, 3}));
    EXPECT_EQ(viewer::sortedRecords(mails, {}), (QList<int>{0, 1, 2, 3, 4, 5}));
}

TEST(MailOrder, ADeletedRecordLeavesTheOthersInTheirPlaces)
{
    // Those after it in the file are one record nearer the start.
    EXPECT_EQ(viewer::orderWithout({4, 2, 0, 5, 1, 3}, 2), (QList<int>{3, 0, 4, 1, 2}));
    EXPECT_EQ(viewer::orderWithout({4, 2, 0, 5, 1, 3}, 5), (QList<int>{4, 2, 0, 1, 3}));
    EXPECT_TRUE(viewer::orderWithout({0}, 0).isEmpty());
}

TEST(MailOrder, SubjectsAndSendersSortWithoutRegardToCaseAndKeepTiesInOrder)
{
    const QList<viewer::ListedMail> mails = {
        {QStringLiteral("会議"), QStringLiteral("b@example.jp"), {}},
        {QStringLiteral("Agenda"), QStringLiteral("A@example.jp"), {}},
        {QStringLiteral("agenda"), QStringLiteral("c@example.jp"), {}},
        {QStringLiteral("  見積"), QStringLiteral("a@example.jp"), {}},
    };
    const QList<int> subjects = viewer::sortedRecords(mails, {viewer::SortColumn::Subject, false});
    EXPECT_EQ(subjects.mid(0, 2), (QList<int>{1, 2})); // equal without case: record order
    const QList<int> senders = viewer::sortedRecords(mails, {viewer::SortColumn::Sender, true});
    EXPECT_EQ(senders, (QList<int>{2, 0, 1, 3}));
}

TEST(MailListModel, ShowsRecordsInAGivenOrderAndNamesEachRowsOwnRecord)
{
    TempFolder dir;
    const QString path = dir.file(QStringLiteral("m.data"));
    dir.write(QStringLiteral("m.data"),
              mails({QStringLiteral("一"), QStringLiteral("二"), QStringLiteral("三")}));
    const Result<QList<viewer::ListedMail>> listed = MailListModel::listedMails(path);
    ASSERT_TRUE(listed.ok());
    ASSERT_EQ(listed.value().size(), 3);
    EXPECT_EQ(listed.value()[1].sender.trimmed(), QStringLiteral("差出人2"));

    MailListModel model(path);
    model.reload();
    model.setOrder({2, 0, 1});
    EXPECT_EQ(model.index(0, 0).data().toString().trimmed(), QStringLiteral("三"));
    EXPECT_EQ(model.record(0).value().body().trimmed(), QStringLiteral("本文3"));
    EXPECT_EQ(model.recordAt(0), 2);
    EXPECT_EQ(model.rowOf(0), 1);
    // A mail appended later is listed after the ordered ones.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(MailRecord::received(QStringLiteral("四"), {}, {}, {}).bytes());
    file.close();
    model.refreshCount();
    EXPECT_EQ(model.recordAt(3), 3);
    model.setOrder({});
    EXPECT_EQ(model.index(0, 0).data().toString().trimmed(), QStringLiteral("一"));
}

TEST(TextFile, Cp932UnlessACharacterDoesNotFitAndReadsBothBack)
{
    const QString japanese = QStringLiteral("件名：会議\r\n①～");
    const QByteArray cp932 = textfile::encode(japanese);
    EXPECT_FALSE(cp932.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(cp932.mid(0, 4), QByteArray("\x8C\x8F\x96\xBC"));
    EXPECT_EQ(textfile::decode(cp932), japanese);

    const QString emoji = QStringLiteral("晴れ😀");
    const QByteArray utf8 = textfile::encode(emoji);
    EXPECT_TRUE(utf8.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(textfile::decode(utf8), emoji);
    EXPECT_EQ(textfile::decode(emoji.toUtf8()), emoji); // without the mark
    EXPECT_EQ(textfile::decode("plain"), QStringLiteral("plain"));

    EXPECT_EQ(textfile::withCrLf(QStringLiteral("a\nb\r\nc\rd")),
              QStringLiteral("a\r\nb\r\nc\r\nd"));
}

TEST(EditorState, StyleCountersAndTheNewDocumentsPath)
{
    EditorState state;
    EXPECT_TRUE(state.toggle(TextStyle::Bold));  // 0 -> on, 1
    EXPECT_FALSE(state.toggle(TextStyle::Bold)); // 1 -> off, 2
    EXPECT_TRUE(state.toggle(TextStyle::Bold));  // 2 -> on, 1
    EXPECT_TRUE(state.toggle(TextStyle::Italic));
    EXPECT_EQ(state.styleClicks[static_cast<size_t>(TextStyle::Underline)], 0);

    EXPECT_EQ(EditorState::newDocumentPath({}), QStringLiteral("新規作成.TXT"));
    EXPECT_EQ(EditorState::newDocumentPath(QStringLiteral("/home/u/memo.txt")),
              QStringLiteral("/home/u/新規作成.TXT"));
    EXPECT_EQ(EditorState::newDocumentPath(QStringLiteral("C:\\docs\\a.txt")),
              QStringLiteral("C:\\docs\\新規作成.TXT"));
}
