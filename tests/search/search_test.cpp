// Search across every stored mail: the matching rules, and the index kept in
// step with the received-mail file through receives, deletions and crashes.
#include "mail/mail_import.h"
#include "mail/mail_library.h"
#include "search/index_feed.h"
#include "search/mail_index.h"
#include "search/mail_search.h"
#include "search/search_terms.h"
#include "store/mail_store.h"
#include "store/originals.h"
#include "store/records.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <sqlite3.h>

using namespace lumora;
using lumora::test::TempFolder;

namespace {

// How many mails the terms table itself finds, without the table of keys
// (a mail whose terms were not taken out when it went would count).
int termRows(const QString& path, const char* match)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* count = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM terms WHERE terms MATCH ?1;", -1, &count, nullptr);
    sqlite3_bind_text(count, 1, match, -1, SQLITE_STATIC);
    const int rows = sqlite3_step(count) == SQLITE_ROW ? sqlite3_column_int(count, 0) : -1;
    sqlite3_finalize(count);
    sqlite3_close(db);
    return rows;
}

QByteArray key(int n)
{
    return QByteArray(32, static_cast<char>(n));
}

// An index of the mails, each under key(i + 1), asked what the text finds.
struct Indexed {
    TempFolder dir;
    search::MailIndex index{dir.file(QStringLiteral("i.sqlite"))};
    explicit Indexed(const QList<search::IndexedMail>& mails)
    {
        EXPECT_TRUE(index.open().ok());
        QList<std::pair<QByteArray, search::IndexedMail>> batch;
        for (int i = 0; i < mails.size(); ++i) {
            batch.append({key(i + 1), mails[i]});
        }
        EXPECT_TRUE(index.add(batch).ok());
    }
    // The numbers (from 1) of the mails found.
    QList<int> find(const QString& typed)
    {
        const Result<QSet<qint64>> found = index.find(typed);
        EXPECT_TRUE(found.ok());
        QList<int> numbers;
        for (const qint64 k : found.value()) {
            numbers.append(static_cast<int>(k & 0xFF)); // each byte of key(n) is n
        }
        std::sort(numbers.begin(), numbers.end());
        return numbers;
    }
};

QByteArray original(const QString& subject, const QString& body, const QString& file = {})
{
    QByteArray mail = "From: =?UTF-8?B?" + QStringLiteral("花子").toUtf8().toBase64() +
                      "?= <hanako@example.jp>\r\nSubject: =?UTF-8?B?" +
                      subject.toUtf8().toBase64() +
                      "?=\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                      "--b\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                      "Content-Transfer-Encoding: base64\r\n\r\n" +
                      body.toUtf8().toBase64() + "\r\n";
    if (!file.isEmpty()) {
        mail += "--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: "
                "attachment; filename*=UTF-8''" +
                file.toUtf8().toPercentEncoding() +
                "\r\nContent-Transfer-Encoding: base64\r\n\r\nAAAA\r\n";
    }
    return mail + "--b--\r\n";
}

void store(const AppPaths& paths, const QString& subject, const QString& body,
           const QString& file = {})
{
    const MailStore mails(paths);
    MailStore::Appender appender(mails, Writer::Receive);
    const MailRecord record = MailRecord::received(
        subject, QStringLiteral("花子 <hanako@example.jp>"), QString(), body.left(100));
    ASSERT_TRUE(appender.append(record.bytes(), original(subject, body, file)).ok());
    appender.finish(true);
}

} // namespace

TEST(SearchTerms, WidthKanaAndCaseAreFoldedAlike)
{
    EXPECT_EQ(search::fold(QStringLiteral("ｶﾞｲﾄﾞ")), search::fold(QStringLiteral("ガイド")));
    EXPECT_EQ(search::fold(QStringLiteral("ガイド")), QStringLiteral("がいど"));
    EXPECT_EQ(search::fold(QStringLiteral("ＡＢＣ１")), QStringLiteral("abc1"));
    EXPECT_EQ(QString::fromUtf8(search::indexTerms(QStringLiteral("会議録 Agenda"))),
              QStringLiteral("会議 議録 録 agenda"));
    EXPECT_EQ(search::matchQuery(QStringLiteral("会議録 Age")),
              QStringLiteral("\"会議 議録\" \"age\"*"));
    EXPECT_TRUE(search::matchQuery(QStringLiteral("  、。 ")).isEmpty());
}

TEST(MailIndex, FindsJapaneseByAnyTwoCharactersAndOneByItsStart)
{
    Indexed i({{QStringLiteral("定例会議の議事録"), QStringLiteral("鈴木"), QString(), {}},
               {QStringLiteral("ｶﾞｲﾄﾞﾌﾞｯｸ"), QStringLiteral("Taro"), QString(), {}},
               {QStringLiteral("Agenda"), QStringLiteral("ﾎｹﾞ"), QStringLiteral("見積"), {}},
               {QStringLiteral("請求"), QString(), QString(), {QStringLiteral("請求書.pdf")}}});
    EXPECT_EQ(i.find(QStringLiteral("会議")), (QList<int>{1}));
    EXPECT_EQ(i.find(QStringLiteral("議事録")), (QList<int>{1}));
    EXPECT_EQ(i.find(QStringLiteral("議録")), (QList<int>{})); // not side by side
    EXPECT_EQ(i.find(QStringLiteral("録")), (QList<int>{1}));  // one character, a run's last
    EXPECT_EQ(i.find(QStringLiteral("がいど")), (QList<int>{2}));
    EXPECT_EQ(i.find(QStringLiteral("ガイド")), (QList<int>{2}));
    EXPECT_EQ(i.find(QStringLiteral("AGEN")), (QList<int>{3}));
    EXPECT_EQ(i.find(QStringLiteral("見積 agenda")), (QList<int>{3})); // every word
    EXPECT_EQ(i.find(QStringLiteral("見積 会議")), (QList<int>{}));
    EXPECT_EQ(i.find(QStringLiteral("請求書")), (QList<int>{4})); // an attachment's name
    EXPECT_EQ(i.find(QStringLiteral("請求")), (QList<int>{4}));
    EXPECT_EQ(i.find(QStringLiteral("ない言葉")), (QList<int>{}));
}

TEST(MailIndex, ADamagedFileIsMadeAnew)
{
    TempFolder dir;
    const QString path = dir.file(QStringLiteral("i.sqlite"));
    dir.write(QStringLiteral("i.sqlite"), QByteArray(8192, 'x'));
    search::MailIndex index(path);
    ASSERT_TRUE(index.open().ok());
    EXPECT_TRUE(index.keys().value().isEmpty());
}

// Closed at the end of a run's storing, the feed finishes on its own thread
// while the run goes on: what was handed over goes in, and a mail that comes
// after is left to the next update.
TEST(IndexFeed, ClosedItFinishesWhatItHasAndTakesNothingMore)
{
    TempFolder dir;
    const QString path = dir.file(QStringLiteral("i.sqlite"));
    {
        search::IndexFeed feed(path);
        feed.add("before", {QStringLiteral("前"), QString(), QString(), {}});
        feed.close();
        feed.add("after", {QStringLiteral("後"), QString(), QString(), {}});
        feed.close(); // twice: nothing more happens
    }
    search::MailIndex index(path);
    ASSERT_TRUE(index.open().ok());
    EXPECT_EQ(index.keys().value(), (QSet<QByteArray>{"before"}));
}

TEST(MailSearch, KeepsInStepWithReceivesAndDeletionsAndReadsTheWholeOriginal)
{
    TempFolder dir;
    const AppPaths paths = AppPaths::at(dir.path());
    ASSERT_TRUE(paths.createFolders().ok());
    // A word far beyond what a record holds, and an attachment's name.
    store(paths, QStringLiteral("長いメール"),
          QStringLiteral("あ").repeated(40000) + QStringLiteral("最後の合言葉"));
    store(paths, QStringLiteral("見積のお願い"), QStringLiteral("よろしく"),
          QStringLiteral("見積書.xlsx"));
    store(paths, QStringLiteral("会議"), QStringLiteral("見積も見てください"));
    search::MailSearch search(paths);
    int lastDone = 0;
    ASSERT_TRUE(search.update([&](int done, int) { lastDone = done; }).ok());
    EXPECT_EQ(lastDone, 3);
    EXPECT_EQ(search.find(QStringLiteral("合言葉")).value(), (QList<int>{0}));
    EXPECT_EQ(search.find(QStringLiteral("見積書")).value(), (QList<int>{1}));
    EXPECT_EQ(search.find(QStringLiteral("見積")).value(), (QList<int>{1, 2}));

    // A receive, then a deletion of one: the records move up, the index
    // follows.
    store(paths, QStringLiteral("追加"), QStringLiteral("新しい見積"));
    ASSERT_TRUE(search.update().ok());
    EXPECT_EQ(search.find(QStringLiteral("見積")).value(), (QList<int>{1, 2, 3}));
    const MailStore mails(paths);
    const Result<QByteArray> second = mailFile(paths.receivedFile()).read(2);
    ASSERT_TRUE(mails.remove({{2, second.value()}}).ok());
    ASSERT_TRUE(search.update().ok());
    EXPECT_EQ(search.find(QStringLiteral("見積")).value(), (QList<int>{1, 2}));
    EXPECT_TRUE(search.find(QStringLiteral("見積書")).value().isEmpty());
    search::MailIndex index(paths.searchIndexFile());
    ASSERT_TRUE(index.open().ok());
    EXPECT_EQ(index.keys().value().size(), 3);
    EXPECT_EQ(termRows(paths.searchIndexFile(), "\"見積\""), 2); // its terms went with it

    // An import: decoded as a receive decodes, found by its attachment.
    const auto library = createMailLibrary({});
    const QByteArray imported =
        original(QStringLiteral("取り込み"), QStringLiteral("本文"), QStringLiteral("図面.dwg"));
    ASSERT_EQ(importMails(*library, paths, 1, [&](int) { return imported; }).imported, 1);
    ASSERT_TRUE(search.update().ok());
    EXPECT_EQ(search.find(QStringLiteral("図面")).value(), (QList<int>{3}));

    // All deleted; then the index removed: made again from the files.
    ASSERT_TRUE(mails.removeFirst(4).ok());
    ASSERT_TRUE(search.update().ok());
    EXPECT_TRUE(search.find(QStringLiteral("見積")).value().isEmpty());
    store(paths, QStringLiteral("再び"), QStringLiteral("見積"));
    QFile::remove(paths.searchIndexFile());
    ASSERT_TRUE(search.update().ok());
    EXPECT_EQ(search.find(QStringLiteral("見積")).value(), (QList<int>{0}));
}

TEST(MailSearch, AProcessKilledWhileItIndexesLeavesAnIndexThatIsRightOrMadeRight)
{
    TempFolder dir;
    const AppPaths paths = AppPaths::at(dir.path());
    ASSERT_TRUE(paths.createFolders().ok());
    for (int i = 0; i < 250; ++i) {
        store(paths, QStringLiteral("件名%1").arg(i),
              (i % 3 == 0 ? QStringLiteral("打ち合わせ ") : QString()) +
                  QStringLiteral("本文").repeated(200));
    }
    // Killed at different moments of making the index: before, between and
    // inside its transactions.
    for (const int ms : {1, 15, 40, 90}) {
        QFile::remove(paths.searchIndexFile());
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::thread([ms] {
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                kill(getpid(), SIGKILL);
            }).detach();
            (void)search::MailSearch(paths).update();
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        search::MailSearch search(paths);
        ASSERT_TRUE(search.update().ok()) << ms;
        EXPECT_EQ(search.find(QStringLiteral("打ち合わせ")).value().size(), 84) << ms;
        search::MailIndex index(paths.searchIndexFile());
        ASSERT_TRUE(index.open().ok());
        EXPECT_EQ(index.keys().value().size(), 250) << ms;
    }
}

TEST(MailSearch, WhatAnImportStoresIsIndexedByItAndAnIndexItCannotWriteLosesNoMail)
{
    TempFolder dir;
    const AppPaths paths = AppPaths::at(dir.path());
    ASSERT_TRUE(paths.createFolders().ok());
    const auto library = createMailLibrary({});
    const QList<QByteArray> mails = {
        original(QStringLiteral("長いメール"),
                 QStringLiteral("あ").repeated(40000) + QStringLiteral("最後の合言葉")),
        original(QStringLiteral("取り込み"), QStringLiteral("本文"), QStringLiteral("図面.dwg"))};
    ASSERT_EQ(importMails(*library, paths, 2, [&](int i) { return mails[i]; }).imported, 2);

    // Found with no update: by a word beyond what a record holds, by the
    // attachment's name; and the update then has nothing to add.
    search::MailSearch search(paths);
    EXPECT_EQ(search.find(QStringLiteral("合言葉")).value(), (QList<int>{0}));
    EXPECT_EQ(search.find(QStringLiteral("図面")).value(), (QList<int>{1}));
    int added = 0;
    ASSERT_TRUE(search.update([&](int done, int) { added = done; }).ok());
    EXPECT_EQ(added, 0);

    // The index's name taken by a folder: the mail is stored all the same,
    // and an index made later finds it.
    QFile::remove(paths.searchIndexFile());
    ASSERT_TRUE(QDir().mkdir(paths.searchIndexFile()));
    const QByteArray third = original(QStringLiteral("三通目"), QStringLiteral("見積"));
    ASSERT_EQ(importMails(*library, paths, 1, [&](int) { return third; }).imported, 1);
    EXPECT_EQ(mailFile(paths.receivedFile()).wholeCount(), 3);
    ASSERT_TRUE(QDir(paths.searchIndexFile()).removeRecursively());
    ASSERT_TRUE(search.update().ok());
    EXPECT_EQ(search.find(QStringLiteral("見積")).value(), (QList<int>{2}));
    EXPECT_EQ(search.find(QStringLiteral("合言葉")).value(), (QList<int>{0}));

    // Without the map (an older program's folder) each record is named by
    // its own key, when indexing and when searching alike.
    ASSERT_TRUE(QFile::remove(Originals(paths.originalsFolder()).mapPath()));
    ASSERT_TRUE(search.update().ok());
    EXPECT_EQ(search.find(QStringLiteral("見積")).value(), (QList<int>{2}));
    EXPECT_EQ(search.find(QStringLiteral("本文")).value(), (QList<int>{1}));
}

TEST(MailSearch, ADeletionTakesItsMailsOutOfTheIndexUnderTheFilesTurn)
{
    TempFolder dir;
    const AppPaths paths = AppPaths::at(dir.path());
    ASSERT_TRUE(paths.createFolders().ok());
    store(paths, QStringLiteral("見積"), QStringLiteral("一通目"));
    store(paths, QStringLiteral("会議"), QStringLiteral("二通目"));
    store(paths, QStringLiteral("会議"), QStringLiteral("二通目")); // the same mail again
    search::MailSearch search(paths);
    ASSERT_TRUE(search.update().ok());
    const MailStore mails(paths);
    const RecordFile file = mailFile(paths.receivedFile());

    // No update after any deletion: the witness alone keeps the index.
    ASSERT_TRUE(mails.remove({{1, file.read(1).value()}}, {}, search.witness()).ok());
    EXPECT_TRUE(search.find(QStringLiteral("見積")).value().isEmpty());
    EXPECT_EQ(termRows(paths.searchIndexFile(), "\"見積\""), 0);
    // One of the two records of the same mail goes: the other still finds it.
    ASSERT_TRUE(mails.remove({{1, file.read(1).value()}}, {}, search.witness()).ok());
    EXPECT_EQ(search.find(QStringLiteral("会議")).value(), (QList<int>{0}));

    // Deleting all empties it; a chosen record that changed takes nothing out.
    store(paths, QStringLiteral("見積"), QStringLiteral("三通目"));
    ASSERT_TRUE(search.update().ok());
    EXPECT_EQ(mails.remove({{1, QByteArray("other")}}, {}, search.witness()).error(),
              StoreError::Changed);
    EXPECT_EQ(search.find(QStringLiteral("会議")).value(), (QList<int>{0}));
    ASSERT_TRUE(mails.removeFirst(2, {}, search.witness()).ok());
    EXPECT_TRUE(search.find(QStringLiteral("会議")).value().isEmpty());
    EXPECT_TRUE(search.find(QStringLiteral("見積")).value().isEmpty());
    EXPECT_EQ(termRows(paths.searchIndexFile(), "\"会議\""), 0);
}
