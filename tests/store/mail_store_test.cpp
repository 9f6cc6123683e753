// The received-mail file with its originals: one owner orders every writer,
// and every record keeps its own original through appends, deletions,
// crashes and imports.
#include "mail/mail_import.h"
#include "mail/mail_intake.h"
#include "mail/mail_library.h"
#include "store/mail_store.h"
#include "store/records.h"
#include "support/received_file.h"
#include "support/temp_folder.h"
#include "viewer/mail_exchange.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSemaphore>

using namespace lumora;
using lumora::test::subjectsIn;
using lumora::test::TempFolder;

namespace {

struct App {
    TempFolder dir;
    AppPaths paths = AppPaths::at(dir.path());
    std::unique_ptr<MailLibrary> mail = createMailLibrary({});
    App() { EXPECT_TRUE(paths.createFolders().ok()); }

    MailStore store() const { return MailStore(paths); }
    QByteArray file() const { return dir.read(QStringLiteral("★MailData/krddata2.data")); }
    QList<MailRecord> records() const { return lumora::test::recordsIn(file()); }
    std::optional<QByteArray> original(qint64 n) const
    {
        return Originals(paths.originalsFolder()).read(n, records().at(n - 1).bytes());
    }
    int originalFiles() const { return static_cast<int>(store().originals().names().size()); }
};

MailRecord record(const QString& subject, const QString& body = QStringLiteral("本文"))
{
    return MailRecord::received(subject, QStringLiteral("差出人 <from@example.jp>"),
                                QStringLiteral("Tue, 08 Dec 2026 09:00:00 +0900"), body);
}

// A scanner's mail: the same subject, sender, date and text each time; only
// the attached page differs, so every record comes out byte for byte alike.
QByteArray scan(int page)
{
    return "From: scanner@example.jp\r\nSubject: scan\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
           "--b\r\nContent-Type: text/plain\r\n\r\nscanned\r\n"
           "--b\r\nContent-Type: application/octet-stream; name=\"page.bin\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" +
           QByteArray(200 + page, static_cast<char>('A' + page)).toBase64() + "\r\n--b--\r\n";
}

Result<qint64> append(const MailStore& store, const MailRecord& r, const QByteArray& original)
{
    MailStore::Appender appender(store, Writer::Receive);
    Result<qint64> n = appender.append(r.bytes(), original);
    appender.finish(true);
    return n;
}

} // namespace

// The race a modal question used to let through: a receive appends mail by
// mail while a deletion compacts the file. The deletion takes the file's
// turn between two mails; the receive's next mail waits for it and goes into
// the new file, never into the old one renamed over.
TEST(MailStore, ARewriteBetweenTwoAppendsLosesNeitherMail)
{
    App app;
    const MailStore store = app.store();
    ASSERT_TRUE(append(store, record(QStringLiteral("古い一")), "old 1").ok());
    ASSERT_TRUE(append(store, record(QStringLiteral("古い二")), "old 2").ok());

    QSemaphore waiting;
    store.owner().setWaitObserver([&](Writer who, Writer holder) {
        if (who == Writer::Receive && holder == Writer::Deletion) {
            waiting.release();
        }
    });
    {
        MailIntake intake(*app.mail, app.paths);
        TakenMail first;
        first.record = record(QStringLiteral("新一"));
        TakenMail second;
        second.record = record(QStringLiteral("新二"));
        QSemaphore firstWritten;
        StoreSteps steps;
        steps.after = [&](qint64) {
            firstWritten.release();
        };
        ASSERT_TRUE(intake.store(first, "new 1", steps).ok());
        // The receive's handle is open on the file as it is now.
        firstWritten.acquire();
        {
            const RecordOwner::Turn turn = store.owner().take(Writer::Deletion);
            ASSERT_EQ(subjectsIn(app.file()).size(), 3);
            ASSERT_TRUE(intake.store(second, "new 2").ok());
            waiting.acquire(); // the receive waits for the turn
            const QList<MailRecord> now = app.records();
            ASSERT_TRUE(deleteRecords(turn, app.paths.receivedTemp(), {{1, now[0].bytes()}},
                                      {[&](const QList<qint64>& dead, qint64 before) {
                                          return store.originals().dropEntries(dead, before);
                                      }})
                            .ok());
        }
        ASSERT_TRUE(intake.finish(true));
        EXPECT_EQ(intake.written(), 2);
    }
    store.owner().setWaitObserver({});
    EXPECT_EQ(subjectsIn(app.file()), (QStringList{QStringLiteral("古い二"), QStringLiteral("新一"),
                                                   QStringLiteral("新二")}));
    EXPECT_EQ(app.original(1), QByteArray("old 2"));
    EXPECT_EQ(app.original(2), QByteArray("new 1"));
    EXPECT_EQ(app.original(3), QByteArray("new 2"));
    EXPECT_EQ(app.originalFiles(), 3); // the deleted mail's original went with it
    EXPECT_FALSE(store.originals().interrupted());
}

// Mails whose records are byte for byte alike keep an original each, found
// by their place, through deletion, export and import.
TEST(MailStore, RecordsAlikeKeepTheirOwnOriginals)
{
    App app;
    const QList<QByteArray> scans = {scan(0), scan(1), scan(2)};
    ASSERT_EQ(importMails(*app.mail, app.paths, 3, [&](int i) { return scans[i]; }).imported, 3);
    const QList<MailRecord> records = app.records();
    ASSERT_EQ(records.size(), 3);
    EXPECT_EQ(records[0].bytes(), records[1].bytes());
    EXPECT_EQ(records[1].bytes(), records[2].bytes());
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(app.original(n), scans[n - 1]) << n;
    }
    EXPECT_EQ(app.originalFiles(), 3);

    // The same mails again are stored already; another page of the same
    // scanner is a new mail.
    const ImportOutcome again =
        importMails(*app.mail, app.paths, 3, [&](int i) { return scans[i]; });
    EXPECT_EQ(again.imported, 0);
    EXPECT_EQ(again.skipped, 3);
    EXPECT_EQ(importMails(*app.mail, app.paths, 1, [](int) { return scan(3); }).imported, 1);

    // Deleting the second leaves the others' originals with them.
    ASSERT_TRUE(app.store().remove({{2, records[1].bytes()}}).ok());
    ASSERT_EQ(app.records().size(), 3);
    EXPECT_EQ(app.original(1), scans[0]);
    EXPECT_EQ(app.original(2), scans[2]);
    EXPECT_EQ(app.original(3), scan(3));
    EXPECT_EQ(app.originalFiles(), 3);

    // Exported, each as itself; imported elsewhere, three mails again.
    TempFolder out;
    const QString mbox = out.file(QStringLiteral("all.mbox"));
    ASSERT_TRUE(exchange::exportMbox(exchange::recordsOf(mailFile(app.paths.receivedFile())), 3,
                                     app.store().originals(), mbox)
                    .status.ok());
    const QList<QByteArray> back = exchange::splitMbox(out.read(QStringLiteral("all.mbox")));
    ASSERT_EQ(back.size(), 3);
    EXPECT_EQ(back[0], scans[0]);
    EXPECT_EQ(back[1], scans[2]);
    App other;
    EXPECT_EQ(importMails(*other.mail, other.paths, 3, [&](int i) { return back[i]; }).imported, 3);
    EXPECT_EQ(other.original(2), scans[2]);

    // Delete all: every original goes.
    ASSERT_TRUE(app.store().removeFirst(3).ok());
    EXPECT_TRUE(app.file().isEmpty());
    EXPECT_EQ(app.originalFiles(), 0);
}

// Delete all deletes what the user saw: a mail that arrived while the
// question was open stays, with its original.
TEST(MailStore, DeleteAllKeepsMailThatCameAfterTheQuestion)
{
    App app;
    const MailStore store = app.store();
    ASSERT_TRUE(append(store, record(QStringLiteral("一")), "1").ok());
    ASSERT_TRUE(append(store, record(QStringLiteral("二")), "2").ok());
    const qint64 seen = store.file().wholeCount();
    ASSERT_TRUE(append(store, record(QStringLiteral("新")), "new").ok());
    ASSERT_TRUE(store.removeFirst(seen).ok());
    EXPECT_EQ(subjectsIn(app.file()), QStringList{QStringLiteral("新")});
    EXPECT_EQ(app.original(1), QByteArray("new"));
    EXPECT_EQ(app.originalFiles(), 1);
    EXPECT_EQ(store.removeFirst(5).error(), StoreError::Changed);
}

// The process dies at each step of a deletion of one of three alike
// records; the next start completes it. The other two keep their own
// originals, and nothing is left over.
TEST(MailStore, ACrashAtAnyStepOfADeletionKeepsTheOriginalsInStep)
{
    const CompactStep steps[] = {CompactStep::Marked, CompactStep::TempRecord,
                                 CompactStep::TempWritten, CompactStep::TempSynced,
                                 CompactStep::Replaced};
    for (const CompactStep stop : steps) {
        SCOPED_TRACE(static_cast<int>(stop));
        App app;
        const MailStore store = app.store();
        const MailRecord alike = record(QStringLiteral("同じ"));
        for (const char* original : {"first", "second", "third"}) {
            ASSERT_TRUE(append(store, alike, original).ok());
        }
        EXPECT_EQ(
            store.remove({{2, alike.bytes()}}, [&](CompactStep s) { return s != stop; }).error(),
            StoreError::Interrupted);
        ASSERT_TRUE(store.recover().ok());
        ASSERT_EQ(app.records().size(), 2);
        EXPECT_EQ(app.original(1), QByteArray("first"));
        EXPECT_EQ(app.original(2), QByteArray("third"));
        EXPECT_EQ(app.originalFiles(), 2);
        EXPECT_FALSE(QFile::exists(app.paths.receivedTemp()));
        EXPECT_FALSE(QFile::exists(deletionJournal(app.paths.receivedFile())));
    }

    // Died after the map was rewritten, before the original was removed.
    App app;
    const MailStore store = app.store();
    ASSERT_TRUE(append(store, record(QStringLiteral("一")), "1").ok());
    ASSERT_TRUE(append(store, record(QStringLiteral("二")), "2").ok());
    const QByteArray journal = "count 2\ndelete 1-1\n";
    ASSERT_TRUE(store.remove({{1, app.records()[0].bytes()}}).ok());
    // The original left in both forms: packed, and a file of an earlier
    // version.
    const QByteArray key = Originals::contentKey("1");
    ASSERT_TRUE(store.originals().write({Originals::recordKey("x"), key}, "1").ok());
    const QString leftOver = QDir(app.paths.originalsFolder()).filePath(Originals::hexName(key));
    app.dir.write(QStringLiteral("★MailData/messages/") + QFileInfo(leftOver).fileName(), "1");
    QFile file(deletionJournal(app.paths.receivedFile()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(journal);
    file.close();
    ASSERT_TRUE(store.recover().ok());
    EXPECT_FALSE(QFile::exists(leftOver));
    EXPECT_EQ(store.originals().readContent(key), std::nullopt);
    EXPECT_EQ(app.original(1), QByteArray("2"));
}

// A crash between an original's entry and its record leaves an entry the
// file has no record for; the next writer drops it, and the original.
TEST(MailStore, AnEntryWithoutItsRecordIsDroppedByTheNextRun)
{
    App app;
    const MailStore store = app.store();
    ASSERT_TRUE(append(store, record(QStringLiteral("一")), "1").ok());
    {
        MailStore::Appender appender(store, Writer::Receive);
        AppendSteps steps;
        steps.between = [] {
        };
        ASSERT_TRUE(appender.append(record(QStringLiteral("二")).bytes(), "2", steps).ok());
        // Left as a crash before the record would leave it.
        QFile file(app.paths.receivedFile());
        ASSERT_TRUE(file.resize(MailRecord::kLength));
    } // not finished: the change stays open
    EXPECT_TRUE(store.originals().interrupted());
    ASSERT_TRUE(append(store, record(QStringLiteral("三")), "3").ok());
    EXPECT_EQ(subjectsIn(app.file()), (QStringList{QStringLiteral("一"), QStringLiteral("三")}));
    EXPECT_EQ(app.original(2), QByteArray("3"));
    EXPECT_EQ(app.originalFiles(), 2);
    EXPECT_FALSE(store.originals().interrupted());
}

// An application folder of the first version that kept originals: each
// named by its record's key, no map. They are found as before, and new mail
// joins them.
TEST(MailStore, OriginalsNamedByTheirRecordsAreStillFound)
{
    App app;
    const MailRecord a = record(QStringLiteral("一"));
    const MailRecord b = record(QStringLiteral("二"));
    app.dir.write(QStringLiteral("★MailData/krddata2.data"), a.bytes() + b.bytes() + a.bytes());
    for (const MailRecord* r : {&a, &b}) {
        app.dir.write(QStringLiteral("★MailData/messages/") +
                          Originals::hexName(Originals::recordKey(r->bytes())),
                      "legacy " + r->bytes().left(3));
    }
    const MailStore store = app.store();
    ASSERT_TRUE(store.recover().ok());
    EXPECT_EQ(app.original(1), "legacy " + a.bytes().left(3));
    EXPECT_EQ(app.original(3), "legacy " + a.bytes().left(3)); // shared, as it always was
    ASSERT_TRUE(append(store, record(QStringLiteral("四")), "new").ok());
    EXPECT_EQ(app.original(4), QByteArray("new"));

    // The shared original stays while a record names it.
    ASSERT_TRUE(store.remove({{1, a.bytes()}}).ok());
    EXPECT_EQ(app.original(2), "legacy " + a.bytes().left(3));
    ASSERT_TRUE(store.remove({{2, a.bytes()}}).ok());
    EXPECT_EQ(app.originalFiles(), 2);
    EXPECT_EQ(app.original(1), "legacy " + b.bytes().left(3));
}

// An older program deleted a record without knowing the map: the map is
// matched to the records again, in order.
TEST(MailStore, AMapAnOlderProgramLeftOutOfStepIsMatchedAgain)
{
    App app;
    const MailStore store = app.store();
    const MailRecord alike = record(QStringLiteral("同じ"));
    ASSERT_TRUE(append(store, alike, "a1").ok());
    ASSERT_TRUE(append(store, record(QStringLiteral("別")), "b").ok());
    ASSERT_TRUE(append(store, alike, "a2").ok());
    ASSERT_TRUE(append(store, record(QStringLiteral("最後")), "c").ok());
    // Record 2 taken out behind the map's back.
    const QByteArray bytes = app.file();
    app.dir.write(QStringLiteral("★MailData/krddata2.data"),
                  bytes.left(MailRecord::kLength) + bytes.mid(2 * MailRecord::kLength));
    // Readers find each record's own original even before the repair.
    EXPECT_EQ(app.original(1), QByteArray("a1"));
    EXPECT_EQ(app.original(3), QByteArray("c"));
    ASSERT_TRUE(store.recover().ok());
    EXPECT_EQ(store.originals().mapFile().wholeCount(), 3);
    EXPECT_EQ(app.original(1), QByteArray("a1"));
    EXPECT_EQ(app.original(2), QByteArray("a2"));
    EXPECT_EQ(app.original(3), QByteArray("c"));
}

// A run that cannot keep a mail's original stores nothing of that mail.
TEST(MailStore, AnOriginalThatCannotBeWrittenStoresNothing)
{
    App app;
    const MailStore store = app.store();
    ASSERT_TRUE(append(store, record(QStringLiteral("一")), "1").ok());
    // A folder where the originals' file should go.
    const QString pack = QDir(app.paths.originalsFolder()).filePath(QStringLiteral("pack-000001"));
    ASSERT_TRUE(QFile::rename(pack, pack + QStringLiteral(".away")) && QDir().mkpath(pack));
    MailStore::Appender appender(store, Writer::Receive);
    const Result<qint64> n = appender.append(record(QStringLiteral("二")).bytes(), "2");
    EXPECT_FALSE(n.ok());
    appender.finish(false);
    EXPECT_EQ(subjectsIn(app.file()), QStringList{QStringLiteral("一")});
    EXPECT_EQ(store.originals().mapFile().wholeCount(), 1);
}
