#include "addressbook/address_book.h"
#include "support/temp_folder.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::TempFolder;

namespace {

struct Book {
    TempFolder root;
    AddressBook book{root.file(QStringLiteral("krddata20.data")),
                     root.file(QStringLiteral("KRDDATA20.TMP"))};
    QByteArray bytes() const { return root.read(QStringLiteral("krddata20.data")); }
};

QByteArray field(const QByteArray& text)
{
    return text + QByteArray(90 - text.size(), ' ');
}

} // namespace

TEST(AddressBook, RegisterWritesTheRecordByteForByte)
{
    Book b;
    ASSERT_TRUE(b.book.entries().ok()); // opening creates the empty file
    EXPECT_TRUE(b.root.exists(QStringLiteral("krddata20.data")));
    EXPECT_EQ(b.bytes().size(), 0);

    const auto n = b.book.add(QStringLiteral("Taro"), QStringLiteral("a@b"));
    ASSERT_TRUE(n.ok());
    EXPECT_EQ(n.value(), 1);
    EXPECT_EQ(b.bytes(), field("Taro") + "\r\n" + QByteArray("\x01\x00", 2) + field("a@b"));

    // Japanese text is stored in CP932, as typed (not trimmed).
    ASSERT_TRUE(b.book.add(QStringLiteral(" 山田 "), QStringLiteral("yamada@example.jp")).ok());
    const QByteArray second = b.bytes().mid(184);
    EXPECT_EQ(second.left(6), QByteArray(" \x8e\x52\x93\x63 ", 6));
    const auto entries = b.book.entries();
    ASSERT_TRUE(entries.ok());
    ASSERT_EQ(entries.value().size(), 2);
    EXPECT_EQ(entries.value()[1].name.left(4), QStringLiteral(" 山田 "));
    EXPECT_EQ(entries.value()[1].name.size(), 88); // padding kept: 90 bytes, two double-byte
}

TEST(AddressBook, DeleteAndCompactKeepTheOtherEntriesInOrder)
{
    Book b;
    for (const char* name : {"one", "two", "three"}) {
        ASSERT_TRUE(b.book.add(QString::fromLatin1(name), QStringLiteral("x@y")).ok());
    }
    ASSERT_TRUE(b.book.remove(b.book.chosen(2).value()).ok());
    const QByteArray bytes = b.bytes();
    ASSERT_EQ(bytes.size(), 368);
    EXPECT_TRUE(bytes.startsWith("one "));
    EXPECT_TRUE(bytes.mid(184).startsWith("three "));
    EXPECT_EQ(bytes.mid(92, 2), QByteArray("\x01\x00", 2));
    EXPECT_EQ(bytes.mid(184 + 92, 2), QByteArray("\x01\x00", 2));
    EXPECT_FALSE(b.root.exists(QStringLiteral("KRDDATA20.TMP")));

    // Compacting alone changes no entry.
    ASSERT_TRUE(b.book.remove({}).ok());
    EXPECT_EQ(b.bytes(), bytes);
}

TEST(AddressBook, APartialTailIsNoEntryAndTheNextGoesAtTheRoundedNumber)
{
    Book b;
    ASSERT_TRUE(b.book.add(QStringLiteral("one"), QStringLiteral("x@y")).ok());
    const QByteArray whole = b.bytes();
    // 184 + 100 bytes: one whole record and a tail.
    b.root.write(QStringLiteral("krddata20.data"), whole + QByteArray(100, 'z'));
    const auto entries = b.book.entries();
    ASSERT_TRUE(entries.ok());
    EXPECT_EQ(entries.value().size(), 1);
    EXPECT_EQ(b.book.entry(2).status().error(), StoreError::EndOfFile);

    // 284 / 184 + 1 = 2.54, rounded to 3: the new entry follows the tail's
    // record slot, and the slot in between stays unlisted.
    const auto n = b.book.add(QStringLiteral("two"), QStringLiteral("x@y"));
    ASSERT_TRUE(n.ok());
    EXPECT_EQ(n.value(), 3);
    EXPECT_EQ(b.bytes().size(), 3 * 184);
}

TEST(AddressBook, AFullBookRefusesAnotherEntry)
{
    Book b;
    ASSERT_TRUE(b.book.ensureExists().ok());
    {
        QFile file(b.root.file(QStringLiteral("krddata20.data")));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.resize(AddressBook::kMaxEntries * 184));
    }
    const auto n = b.book.add(QStringLiteral("one"), QStringLiteral("x@y"));
    EXPECT_FALSE(n.ok());
    EXPECT_EQ(n.status().error(), StoreError::BadArgument);
    EXPECT_EQ(b.bytes().size(), AddressBook::kMaxEntries * 184);
}
