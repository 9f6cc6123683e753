#include "store/record_owner.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringList>

using namespace lumora;
using lumora::test::TempFolder;

namespace {

const QString kData = QStringLiteral("krddata20.data");
const QString kTemp = QStringLiteral("KRDDATA20.TMP");

QByteArray entries(const QStringList& names, int deleted = 0)
{
    QByteArray bytes;
    for (int i = 0; i < names.size(); ++i) {
        AddressRecord r = AddressRecord::entry(names[i], names[i] + QStringLiteral("@example.jp"));
        if (i + 1 == deleted) {
            r.setInUse(0);
        }
        bytes += r.bytes();
    }
    return bytes;
}

// The names in the file, in order, and which of them are live.
struct Contents {
    QStringList all;
    QStringList live;
};

Contents contents(const RecordFile& file)
{
    Contents c;
    for (qint64 n = 1;; ++n) {
        const auto bytes = file.read(n);
        if (!bytes.ok()) {
            break;
        }
        const AddressRecord r = AddressRecord::fromBytes(bytes.value());
        const QString name = text::trimSpaces(r.name());
        c.all << name;
        if (r.inUse() != 0) {
            c.live << name;
        }
    }
    return c;
}

// Deletes record n (0: none, only compacts) as the windows do: with the
// file's turn, the record as it is now.
Status removeRecord(const RecordFile& file, qint64 n, const QString& temp,
                    const CompactHook& hook = {})
{
    const auto owner = RecordOwner::of(file.path(), file.layout());
    const RecordOwner::Turn turn = owner->take(Writer::Deletion);
    QList<ChosenRecord> chosen;
    if (n > 0) {
        chosen.append({n, file.read(n).value()});
    }
    return deleteRecords(turn, temp, chosen, {}, hook);
}

Result<RecordFile::Recovery> recoverFile(const RecordFile& file, const QString& temp)
{
    const auto owner = RecordOwner::of(file.path(), file.layout());
    const RecordOwner::Turn turn = owner->take(Writer::Repair);
    return completeDeletion(turn, temp);
}

} // namespace

TEST(Deletion, DeletingTheSecondOfThreeLeavesTheOthersInOrder)
{
    TempFolder dir;
    dir.write(kData,
              entries({QStringLiteral("一郎"), QStringLiteral("二郎"), QStringLiteral("三郎")}));
    const RecordFile file = addressFile(dir.file(kData));
    ASSERT_TRUE(removeRecord(file, 2, dir.file(kTemp)).ok());
    EXPECT_EQ(dir.read(kData).size(), 368);
    EXPECT_EQ(contents(file).live, QStringList({QStringLiteral("一郎"), QStringLiteral("三郎")}));
    EXPECT_EQ(contents(file).all, contents(file).live); // every record at rest has InUse 1
    EXPECT_FALSE(dir.exists(kTemp));
}

TEST(Deletion, CompactingWithoutADeletionKeepsEveryRecordAndDropsAPartialTail)
{
    TempFolder dir;
    const QByteArray three =
        entries({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    dir.write(kData, three + QByteArray(50, 'z'));
    const RecordFile file = addressFile(dir.file(kData));
    ASSERT_TRUE(removeRecord(file, 0, dir.file(kTemp)).ok());
    EXPECT_EQ(dir.read(kData), three);
    EXPECT_FALSE(dir.exists(kTemp));
}

TEST(Deletion, MailRecordsUseTheSameScheme)
{
    TempFolder dir;
    const RecordFile file = mailFile(dir.file(QStringLiteral("krddata2.data")));
    for (const char* s : {"one", "two", "three"}) {
        ASSERT_TRUE(storeReceivedMail(file, QString::fromLatin1(s), {}, {}, {}).ok());
    }
    ASSERT_TRUE(removeRecord(file, 1, dir.file(QStringLiteral("KRDDATA2.TMP"))).ok());
    ASSERT_EQ(file.roundedCount(), 2);
    EXPECT_EQ(text::trimSpaces(MailRecord::fromBytes(file.read(1).value()).subject()),
              QStringLiteral("two"));
}

// The process dies at each step of a deletion; the next start completes
// it, as the user asked. Every other record must be there exactly once, in
// order, and the temporary file and the journal must be gone.
TEST(Deletion, ACrashAtAnyStepIsCompletedAtTheNextStart)
{
    struct Stop {
        CompactStep step;
        int occurrence;
    };
    const Stop stops[] = {
        {CompactStep::Marked, 1},      {CompactStep::TempRecord, 1}, {CompactStep::TempRecord, 2},
        {CompactStep::TempWritten, 1}, {CompactStep::TempSynced, 1}, {CompactStep::Replaced, 1},
    };
    const QStringList names = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                               QStringLiteral("d")};
    const QStringList survivors = {QStringLiteral("a"), QStringLiteral("c"), QStringLiteral("d")};
    for (const Stop& stop : stops) {
        SCOPED_TRACE(static_cast<int>(stop.step) * 10 + stop.occurrence);
        TempFolder dir;
        dir.write(kData, entries(names));
        const RecordFile file = addressFile(dir.file(kData));
        int seen = 0;
        const Status status = removeRecord(file, 2, dir.file(kTemp), [&](CompactStep s) {
            return !(s == stop.step && ++seen == stop.occurrence);
        });
        ASSERT_EQ(status.error(), StoreError::Interrupted);
        EXPECT_TRUE(dir.exists(kData + QStringLiteral(".deleting")));

        const auto repaired = recoverFile(file, dir.file(kTemp));
        ASSERT_TRUE(repaired.ok());
        EXPECT_TRUE(repaired.value().keptFile.isEmpty()); // nothing to set aside
        EXPECT_FALSE(dir.exists(kTemp));
        EXPECT_FALSE(dir.exists(kData + QStringLiteral(".deleting")));
        EXPECT_EQ(contents(file).all, survivors);
        EXPECT_EQ(contents(file).live, survivors);
    }
}

// A record that is not the one the user chose any more is not deleted: the
// question was about another entry.
TEST(Deletion, ARecordThatChangedSinceTheQuestionIsNotDeleted)
{
    TempFolder dir;
    dir.write(kData, entries({QStringLiteral("a"), QStringLiteral("b")}));
    const RecordFile file = addressFile(dir.file(kData));
    const ChosenRecord chosen{2, file.read(2).value()};
    dir.write(kData, entries({QStringLiteral("a"), QStringLiteral("x")}));
    const auto owner = RecordOwner::of(file.path(), file.layout());
    {
        const RecordOwner::Turn turn = owner->take(Writer::Deletion);
        EXPECT_EQ(deleteRecords(turn, dir.file(kTemp), {chosen}).error(), StoreError::Changed);
        EXPECT_EQ(deleteRecords(turn, dir.file(kTemp), {{3, chosen.bytes}}).error(),
                  StoreError::Changed);
    }
    EXPECT_EQ(contents(file).all, (QStringList{QStringLiteral("a"), QStringLiteral("x")}));
    EXPECT_FALSE(dir.exists(kData + QStringLiteral(".deleting")));
}

// States an older copy of the program leaves when it dies while deleting: it
// copies the data file to the temporary file, removes the data file and
// rebuilds it from the copy.
TEST(Deletion, RecoversWhatAnInterruptedCopyAndRebuildLeftBehind)
{
    const QStringList names = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    const QByteArray full = entries(names, 2);
    {
        SCOPED_TRACE("data file removed, rebuild not started");
        TempFolder dir;
        dir.write(kTemp, full);
        const RecordFile file = addressFile(dir.file(kData));
        ASSERT_TRUE(recoverFile(file, dir.file(kTemp)).value().repaired);
        EXPECT_EQ(dir.read(kData), full);
        EXPECT_FALSE(dir.exists(kTemp));
    }
    {
        SCOPED_TRACE("rebuild half done");
        TempFolder dir;
        dir.write(kTemp, full);
        dir.write(kData, entries({QStringLiteral("a")}));
        const RecordFile file = addressFile(dir.file(kData));
        ASSERT_TRUE(recoverFile(file, dir.file(kTemp)).value().repaired);
        EXPECT_EQ(contents(file).live, QStringList({QStringLiteral("a"), QStringLiteral("c")}));
    }
    {
        SCOPED_TRACE("copy to the temporary file cut short");
        TempFolder dir;
        dir.write(kData, full);
        dir.write(kTemp, full.left(184 + 30));
        const RecordFile file = addressFile(dir.file(kData));
        ASSERT_TRUE(recoverFile(file, dir.file(kTemp)).value().repaired);
        EXPECT_EQ(dir.read(kData), full);
        EXPECT_FALSE(dir.exists(kTemp));
    }
    {
        SCOPED_TRACE("nothing to repair");
        TempFolder dir;
        dir.write(kData, full);
        const RecordFile file = addressFile(dir.file(kData));
        EXPECT_FALSE(recoverFile(file, dir.file(kTemp)).value().repaired);
        EXPECT_EQ(dir.read(kData), full);
    }
}

// A temporary file left from long ago, larger than today's data file: the
// repair chooses it, but the data file's records, which may be newer, are
// kept beside it, not deleted; one such copy at most, gone once a later
// deletion succeeds.
TEST(Deletion, TheFileTheRepairDoesNotChooseIsKeptWhenItHoldsRecords)
{
    TempFolder dir;
    const QByteArray stale = entries({QStringLiteral("古1"), QStringLiteral("古2"),
                                      QStringLiteral("古3"), QStringLiteral("古4")});
    const QByteArray newer = entries({QStringLiteral("新1"), QStringLiteral("新2")});
    dir.write(kTemp, stale);
    dir.write(kData, newer);
    const RecordFile file = addressFile(dir.file(kData));
    const auto repaired = recoverFile(file, dir.file(kTemp));
    ASSERT_TRUE(repaired.ok());
    EXPECT_TRUE(repaired.value().repaired);
    EXPECT_EQ(dir.read(kData), stale);
    EXPECT_FALSE(dir.exists(kTemp));
    const QString kept = repaired.value().keptFile;
    EXPECT_EQ(kept, dir.file(kData + QStringLiteral(".kept")));
    QFile keptFile(kept);
    ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(keptFile.readAll(), newer);

    // A second repair keeps the latest copy in the same place: never more
    // than one copy of the file.
    const QByteArray newest = entries({QStringLiteral("最新")});
    dir.write(kTemp, stale);
    dir.write(kData, newest);
    const auto again = recoverFile(file, dir.file(kTemp));
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.value().keptFile, kept);
    EXPECT_EQ(dir.read(kData + QStringLiteral(".kept")), newest);
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.kept")}, QDir::Files).size(), 1);

    // A temporary file without one whole record holds nothing to keep.
    dir.write(kTemp, QByteArray(100, 'x'));
    const auto partial = recoverFile(file, dir.file(kTemp));
    ASSERT_TRUE(partial.ok());
    EXPECT_TRUE(partial.value().keptFile.isEmpty());
    EXPECT_FALSE(dir.exists(kTemp));

    // Once a deletion has gone through, the copy is not needed any more.
    ASSERT_TRUE(removeRecord(file, 1, dir.file(kTemp)).ok());
    EXPECT_FALSE(dir.exists(kData + QStringLiteral(".kept")));
}
