// Originals packed many to a file: what a crash can leave in a pack is read
// past, and a removed original's bytes leave the disk.
#include "store/original_packs.h"
#include "store/originals.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

using namespace lumora;
using lumora::test::TempFolder;

namespace {

QByteArray mail(int i)
{
    QByteArray bytes = "Subject: " + QByteArray::number(i) + "\r\n\r\n";
    for (int line = 0; line < 100; ++line) {
        bytes += "mail " + QByteArray::number(i) + " line " + QByteArray::number(line) + "\r\n";
    }
    return bytes;
}

QByteArray key(int i)
{
    return Originals::contentKey(mail(i));
}

struct Packs {
    TempFolder dir;
    QString folder = dir.path();

    void add(int i) const { ASSERT_TRUE(packs::append(folder, key(i), mail(i)).ok()); }
    bool reads(int i) const { return packs::read(folder, key(i)) == mail(i); }
    QStringList files() const { return QDir(folder).entryList(QDir::Files); }
    QString pack() const { return QDir(folder).filePath(QStringLiteral("pack-000001")); }
    // Another process's view: what the file says, not what was remembered.
    QByteArray bytes() const { return dir.read(QStringLiteral("pack-000001")); }
    void setBytes(const QByteArray& bytes) const
    {
        QFile f(pack());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
};

} // namespace

TEST(OriginalPacks, ManyOriginalsGoInOneFileAndAreCheckedAgainstTheirKeys)
{
    Packs p;
    for (int i = 0; i < 5; ++i) {
        p.add(i);
    }
    EXPECT_EQ(p.files(), QStringList{QStringLiteral("pack-000001")});
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(p.reads(i)) << i;
        EXPECT_TRUE(packs::has(p.folder, key(i)));
    }
    EXPECT_EQ(packs::keys(p.folder).size(), 5);
    EXPECT_FALSE(packs::read(p.folder, key(9)));

    // Bytes that changed on the disk are no original; written again, the
    // new copy is read and the damaged one goes with the next removal.
    QByteArray bytes = p.bytes();
    const qsizetype third = bytes.indexOf(mail(2));
    ASSERT_GT(third, 0);
    bytes[third + 100] = '!';
    const QByteArray damaged = bytes.sliced(third, mail(2).size());
    p.setBytes(bytes);
    EXPECT_FALSE(packs::read(p.folder, key(2)));
    p.add(2);
    EXPECT_TRUE(p.reads(2));
    EXPECT_EQ(packs::removeAllBut(p.folder, packs::keys(p.folder)), 0);
    EXPECT_FALSE(p.bytes().contains(damaged));
    EXPECT_TRUE(p.bytes().contains(mail(2)));
}

TEST(OriginalPacks, WhatACrashLeavesIsReadPastAndACutEntryIsDroppedByTheNextAppend)
{
    Packs p;
    p.add(0);
    p.add(1);
    const QByteArray whole = p.bytes();

    // The last entry cut short: the ones before it are read; the next
    // append takes its place.
    p.setBytes(whole.left(whole.size() - 10));
    EXPECT_TRUE(p.reads(0));
    EXPECT_FALSE(p.reads(1));
    p.add(2);
    EXPECT_TRUE(p.reads(0));
    EXPECT_TRUE(p.reads(2));
    EXPECT_EQ(p.bytes().size(), whole.size() - mail(1).size() + mail(2).size());

    // Zeros where an entry's head was never written: the entries after it
    // are still found, and appends go on after them.
    QByteArray holed = whole;
    holed.replace(0, packs::kHeadBytes + 20, QByteArray(packs::kHeadBytes + 20, '\0'));
    p.setBytes(holed);
    EXPECT_FALSE(p.reads(0));
    EXPECT_TRUE(p.reads(1));
    p.add(3);
    EXPECT_TRUE(p.reads(1));
    EXPECT_TRUE(p.reads(3));
    EXPECT_TRUE(p.bytes().startsWith(holed));
}

TEST(OriginalPacks, ARemovedOriginalLeavesTheDiskAndAnEmptyPackGoes)
{
    Packs p;
    for (int i = 0; i < 3; ++i) {
        p.add(i);
    }
    const qsizetype size = p.bytes().size();
    EXPECT_EQ(packs::removeAllBut(p.folder, {key(0), key(2)}), 1);
    EXPECT_FALSE(packs::read(p.folder, key(1)));
    EXPECT_TRUE(p.reads(0));
    EXPECT_TRUE(p.reads(2));
    // The removed bytes are zeros; the others stay where they were.
    EXPECT_EQ(p.bytes().size(), size);
    EXPECT_FALSE(p.bytes().contains("mail 1 line"));
    EXPECT_EQ(packs::keys(p.folder), (QSet<QByteArray>{key(0), key(2)}));

    EXPECT_EQ(packs::removeAllBut(p.folder, {}), 2);
    EXPECT_TRUE(p.files().isEmpty());
    // The next original starts the pack again.
    p.add(4);
    EXPECT_TRUE(p.reads(4));
    EXPECT_EQ(p.files(), QStringList{QStringLiteral("pack-000001")});
}

TEST(OriginalPacks, AFullPackIsFollowedByTheNextAndEachIsReadAndRemovedOnItsOwn)
{
    Packs p;
    const qsizetype big = packs::kPackBytes * 5 / 8;
    const QByteArray first = "Subject: 1\r\n\r\n" + QByteArray(big, 'x');
    const QByteArray second = "Subject: 2\r\n\r\n" + QByteArray(big, 'y');
    ASSERT_TRUE(packs::append(p.folder, Originals::contentKey(first), first).ok());
    ASSERT_TRUE(packs::append(p.folder, Originals::contentKey(second), second).ok());
    p.add(0); // a small one still fits after the second
    EXPECT_EQ(p.files(),
              (QStringList{QStringLiteral("pack-000001"), QStringLiteral("pack-000002")}));
    EXPECT_EQ(packs::read(p.folder, Originals::contentKey(first)), first);
    EXPECT_EQ(packs::read(p.folder, Originals::contentKey(second)), second);
    EXPECT_TRUE(p.reads(0));

    EXPECT_EQ(packs::removeAllBut(p.folder, {Originals::contentKey(second), key(0)}), 1);
    EXPECT_EQ(p.files(), QStringList{QStringLiteral("pack-000002")});
    EXPECT_EQ(packs::read(p.folder, Originals::contentKey(second)), second);
    EXPECT_TRUE(p.reads(0));
    // Appends go on in the last pack.
    p.add(1);
    EXPECT_EQ(p.files(), QStringList{QStringLiteral("pack-000002")});
    EXPECT_TRUE(p.reads(1));
}
