// Mail and addresses going to and coming from other programs' files, read
// and written on the other side by Python's mailbox and email packages.
#include "addressbook/address_exchange.h"
#include "mail/mail_import.h"
#include "mail/mail_library.h"
#include "mail/mime_composer.h"
#include "mail/receive_cycle.h"
#include "store/originals.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "support/mail_samples.h"
#include "support/received_file.h"
#include "support/temp_folder.h"
#include "viewer/mail_exchange.h"
#include "viewer/original_mail.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

using namespace lumora;
using lumora::test::subjectsIn;
using lumora::test::TempFolder;

namespace {

QByteArray python(const QStringList& args)
{
    const std::optional<QByteArray> out = lumora::test::mailSamples(args);
    EXPECT_TRUE(out) << qPrintable(args.join(u' '));
    return out.value_or(QByteArray());
}

// What Python reads back: subject and body of every mail. An mbox reader
// of the mboxrd form takes one '>' off a quoted "From " line; Python's
// mailbox leaves that to its caller.
QList<std::pair<QString, QString>> readBack(const QString& kind, const QString& path)
{
    QList<std::pair<QString, QString>> mails;
    const QJsonArray all =
        QJsonDocument::fromJson(python({QStringLiteral("read"), kind, path})).array();
    for (const QJsonValue& value : all) {
        // Python keeps a CR LF inside the text as it is; a reader sees a line end.
        QString body = value.toObject().value(QStringLiteral("body")).toString();
        body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (kind == QStringLiteral("mbox")) {
            static const QRegularExpression quoted(QStringLiteral("^>(>*From )"),
                                                   QRegularExpression::MultilineOption);
            body.replace(quoted, QStringLiteral("\\1"));
        }
        mails.append({value.toObject().value(QStringLiteral("subject")).toString(), body});
    }
    return mails;
}

struct App {
    TempFolder dir;
    AppPaths paths = AppPaths::at(dir.path());
    std::unique_ptr<MailLibrary> mail = createMailLibrary({});
    App() { EXPECT_TRUE(paths.createFolders().ok()); }
    QList<MailRecord> records() const
    {
        QList<MailRecord> out;
        (void)mailFile(paths.receivedFile()).forEach([&out](qint64, const QByteArray& bytes) {
            out.append(MailRecord::fromBytes(bytes));
        });
        return out;
    }
    ImportOutcome import(const QList<QByteArray>& mails, const std::atomic_bool* cancel = nullptr,
                         const ImportProgress& progress = {})
    {
        return importMails(
            *mail, paths, static_cast<int>(mails.size()), [&mails](int i) { return mails[i]; },
            progress, cancel);
    }
};

QList<QByteArray> filesOf(const QString& folder, exchange::SourceKind kind)
{
    QList<QByteArray> mails;
    for (const QString& path : exchange::mailFiles(folder, kind)) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        mails.append(exchange::withCrlf(file.readAll()));
    }
    return mails;
}

const QString kFromBody =
    QStringLiteral("First line\nFrom here on it is tricky\n>From quoted once\n>>From twice\nend\n");

} // namespace

TEST(MailExchange, PythonsMailboxesComeInOnceAndGoBackOutWhole)
{
    TempFolder work;
    python({QStringLiteral("samples"), work.file(QStringLiteral("eml"))});
    const QList<QByteArray> samples =
        filesOf(work.file(QStringLiteral("eml")), exchange::SourceKind::EmlFolder);
    ASSERT_EQ(samples.size(), 4);
    const QStringList subjects = {QStringLiteral("長いメール"), QStringLiteral("Cafe 〓 〓 Muller"),
                                  QStringLiteral("HTMLのお知らせ"), QStringLiteral("From lines")};

    // The .eml folder, then the same mails as Python's mbox, Maildir and MH:
    // each kind finds them, and none is stored twice.
    App app;
    ImportOutcome outcome = app.import(samples);
    EXPECT_TRUE(outcome.status.ok());
    EXPECT_EQ(outcome.imported, 4);
    EXPECT_EQ(subjectsIn(app.dir.read(QStringLiteral("★MailData/krddata2.data"))), subjects);
    for (const QString& kind : {QStringLiteral("maildir"), QStringLiteral("mh")}) {
        const QString box = work.file(kind);
        python({kind, work.file(QStringLiteral("eml")), box});
        const exchange::SourceKind found = exchange::folderKind(box);
        EXPECT_EQ(found, kind == QStringLiteral("mh") ? exchange::SourceKind::Mh
                                                      : exchange::SourceKind::Maildir);
        outcome = app.import(filesOf(box, found));
        EXPECT_EQ(outcome.imported, 0) << qPrintable(kind);
        EXPECT_EQ(outcome.skipped, 4) << qPrintable(kind);
    }
    python({QStringLiteral("mbox"), work.file(QStringLiteral("eml")),
            work.file(QStringLiteral("in.mbox"))});
    const QList<QByteArray> fromMbox = exchange::splitMbox(work.read(QStringLiteral("in.mbox")));
    ASSERT_EQ(fromMbox.size(), 4);
    App other;
    EXPECT_EQ(other.import(fromMbox).imported, 4);
    // Python writes the older mbox form, where a body line ">From " cannot be
    // told from a quoted "From ": the last mail does not come back the same.
    EXPECT_EQ(app.import(fromMbox.first(3)).skipped, 3);
    EXPECT_EQ(app.records().size(), 4);

    // Files of every kind, names with accents and emoji, the HTML version's
    // picture; the originals byte for byte.
    const QString attachments = app.paths.attachmentFolder();
    EXPECT_EQ(app.dir.read(QStringLiteral("添付フォルダ/résumé 🎉.txt")), QByteArray("CV\n"));
    EXPECT_TRUE(QDir(attachments).entryList({QStringLiteral("*.png")}, QDir::Files).size() == 1);
    EXPECT_EQ(QDir(attachments).entryList(QDir::Files).size(), 2); // nothing twice
    const Originals originals(app.paths.originalsFolder());
    const QList<MailRecord> records = app.records();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(originals.read(i + 1, records[i].bytes()), samples[i]) << i;
    }

    // Out again: mbox and .eml files, read by Python with every character.
    ASSERT_TRUE(exchange::exportMbox(records, originals, work.file(QStringLiteral("out.mbox")))
                    .status.ok());
    ASSERT_EQ(
        exchange::exportEmlFolder(records, originals, work.file(QStringLiteral("out"))).written, 4);
    const QStringList fullSubjects = {
        QStringLiteral("長いメール"), QStringLiteral("Café ☕ 🎉 Müller"),
        QStringLiteral("HTMLのお知らせ"), QStringLiteral("From lines")};
    for (const QString& kind : {QStringLiteral("mbox"), QStringLiteral("eml")}) {
        const auto back =
            readBack(kind, work.file(kind == QStringLiteral("mbox") ? QStringLiteral("out.mbox")
                                                                    : QStringLiteral("out")));
        ASSERT_EQ(back.size(), 4) << qPrintable(kind);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(back[i].first, fullSubjects[i]) << qPrintable(kind);
        }
        EXPECT_EQ(back[0].second.size(), 54405);
        EXPECT_TRUE(back[0].second.endsWith(QStringLiteral("おしまい\n")));
        EXPECT_EQ(
            back[1].second,
            QStringLiteral("Grüße aus Köln, naïve café – 絵文字 😀👍🏽 ✈\n"));
        EXPECT_EQ(back[3].second, kFromBody) << qPrintable(kind);
    }
    // And in once more from our own mbox: the same mails, so nothing new.
    EXPECT_EQ(app.import(exchange::splitMbox(work.read(QStringLiteral("out.mbox")))).skipped, 4);
}

TEST(MailExchange, AMailWithoutAnOriginalIsBuiltFromItsRecord)
{
    TempFolder work;
    const Originals none(work.file(QStringLiteral("messages")));
    const MailRecord japanese = MailRecord::received(
        QStringLiteral("会議のお知らせ①"), QStringLiteral("山田 <yamada@example.jp>"),
        QStringLiteral("Mon, 07 Dec 2026 10:00:00 +0900"),
        QStringLiteral("明日の会議は１０時からです。\r\nFrom the desk of 山田\r\n"));
    const MailRecord wide =
        MailRecord::received(QStringLiteral("ｶﾀｶﾅ ⅰⅱ"), QStringLiteral("x@y.jp"), QString(),
                             QStringLiteral("ⅰⅱⅲ ￤ 髙"));
    const QByteArray built = exchange::messageFromRecord(japanese);
    EXPECT_TRUE(built.contains("charset=ISO-2022-JP"));
    ASSERT_TRUE(exchange::exportMbox({japanese, wide}, none, work.file(QStringLiteral("a.mbox")))
                    .status.ok());
    const auto back = readBack(QStringLiteral("mbox"), work.file(QStringLiteral("a.mbox")));
    ASSERT_EQ(back.size(), 2);
    EXPECT_EQ(back[0].first, QStringLiteral("会議のお知らせ①"));
    EXPECT_EQ(back[0].second,
              QStringLiteral("明日の会議は１０時からです。\nFrom the desk of 山田\n"))
        << qPrintable(back[0].second);
    EXPECT_EQ(back[1].first, QStringLiteral("ｶﾀｶﾅ ⅰⅱ"));
    EXPECT_EQ(back[1].second, QStringLiteral("ⅰⅱⅲ ￤ 髙\n"));
    EXPECT_TRUE(exchange::messageFromRecord(wide).contains("charset=UTF-8"));
    EXPECT_EQ(QDateTime::fromString(QString::fromLatin1(exchange::mboxEntry(built).mid(5, 60))
                                        .section(u' ', 1, -1)
                                        .section(u'\n', 0, 0),
                                    QStringLiteral("ddd MMM d hh:mm:ss yyyy")),
              QDateTime(QDate(2026, 12, 7), QTime(1, 0)));
}

TEST(MailExchange, AnImportStoppedHalfWayKeepsWhatItStoredAndCanGoOn)
{
    TempFolder work;
    python({QStringLiteral("samples"), work.file(QStringLiteral("eml"))});
    const QList<QByteArray> samples =
        filesOf(work.file(QStringLiteral("eml")), exchange::SourceKind::EmlFolder);
    App app;
    std::atomic_bool cancel{false};
    QList<int> seen;
    const ImportOutcome stopped = app.import(samples, &cancel, [&](int done, int total) {
        seen.append(done);
        EXPECT_EQ(total, 4);
        cancel = done == 2;
    });
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(stopped.imported, 2);
    EXPECT_EQ(app.records().size(), 2);
    EXPECT_FALSE(Originals(app.paths.originalsFolder()).interrupted());
    EXPECT_EQ(Originals(app.paths.originalsFolder()).names().size(), 2);
    const ImportOutcome rest = app.import(samples);
    EXPECT_EQ(rest.imported, 2);
    EXPECT_EQ(rest.skipped, 2);
    EXPECT_EQ(app.records().size(), 4);
    EXPECT_FALSE(QDir(app.paths.attachmentFolder() + QStringLiteral("/.importing")).exists());
}

TEST(MailExchange, AnImportStopsAtTheRecordLimit)
{
    TempFolder work;
    python({QStringLiteral("samples"), work.file(QStringLiteral("eml"))});
    App app;
    QFile file(app.paths.receivedFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize((kMaxReceivedRecords - 1) * MailRecord::kLength)); // sparse
    file.close();
    const ImportOutcome outcome =
        app.import(filesOf(work.file(QStringLiteral("eml")), exchange::SourceKind::EmlFolder));
    EXPECT_TRUE(outcome.full);
    EXPECT_EQ(outcome.imported, 1);
    EXPECT_EQ(QFileInfo(app.paths.receivedFile()).size(),
              kMaxReceivedRecords * MailRecord::kLength);
}

TEST(OriginalMail, ShowsEverythingTheRecordCouldNotHoldAndCarriesTheThread)
{
    TempFolder work;
    python({QStringLiteral("samples"), work.file(QStringLiteral("eml"))});
    const viewer::OriginalMail emoji =
        viewer::readOriginal(work.read(QStringLiteral("eml/02.eml")));
    const QString text = viewer::originalText(emoji);
    EXPECT_TRUE(text.startsWith(
        QStringLiteral("From: José Müller <jose@example.com>\nTo: Hanako <hanako@example.jp>\n"
                       "Cc: Zoë <zoe@example.com>\nDate: Tue, 08 Dec 2026 09:30:00 +0100\n"
                       "Subject: Café ☕ 🎉 Müller\n\nGrüße aus Köln")));
    EXPECT_TRUE(text.contains(QStringLiteral("添付ファイル（1 個）:\n  résumé 🎉.txt")));
    EXPECT_TRUE(viewer::lossNote(emoji).contains(QStringLiteral("件名と本文")));
    const viewer::OriginalMail longMail =
        viewer::readOriginal(work.read(QStringLiteral("eml/01.eml")));
    EXPECT_TRUE(viewer::lossNote(longMail).contains(QStringLiteral("このメールの本文は")));
    EXPECT_TRUE(
        viewer::lossNote(viewer::readOriginal(work.read(QStringLiteral("eml/04.eml")))).isEmpty());

    EXPECT_EQ(viewer::threadHeader(emoji),
              QStringLiteral("In-Reply-To: <emoji.2@example.com>\r\n"
                             "References: <start.0@example.com> <emoji.2@example.com>\r\n"));
    // The composer takes those two fields and nothing else.
    QString error;
    const auto reply = mime::compose(
        {QStringLiteral("hanako@example.jp"),
         QStringLiteral("jose@example.com"),
         QStringLiteral("Re: Café"),
         QStringLiteral("ok"),
         {},
         {},
         viewer::threadHeader(emoji) + QStringLiteral("Bcc: evil@example.com\r\n"
                                                      "References: <a@b>\r\nX: y\r\n")},
        &error);
    ASSERT_TRUE(reply) << qPrintable(error);
    EXPECT_TRUE(reply->bytes.contains("In-Reply-To: <emoji.2@example.com>\r\n"));
    EXPECT_TRUE(
        reply->bytes.contains("References: <start.0@example.com> <emoji.2@example.com>\r\n"));
    EXPECT_FALSE(reply->bytes.contains("Bcc"));
    EXPECT_FALSE(reply->bytes.contains("\r\nX: y"));
    EXPECT_EQ(reply->recipients, QList<QByteArray>{"jose@example.com"});
    viewer::OriginalMail noId = emoji;
    noId.messageId = "not an id";
    EXPECT_TRUE(viewer::threadHeader(noId).isEmpty());
}

TEST(AddressExchange, OtherProgramsCardsAndCsvComeInOnceAndGoOut)
{
    const QByteArray cards =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:山田 太郎\r\nN:山田;太郎;;;\r\n"
        "EMAIL;TYPE=INTERNET:taro@example.jp\r\nitem1.EMAIL:taro.work@example.jp\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:4.0\r\nN:Müller;José;;;\r\nEMAIL:jose@exam\r\n ple.com\r\n"
        "END:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE:=8D=B2=93=A1;"
        "=89=D4=8Eq\r\nEMAIL;INTERNET:hanako@example.jp\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:No address\r\nEND:VCARD\r\n";
    const QList<AddressEntry> read = addresses::readAddressFile(cards);
    ASSERT_EQ(read.size(), 4);
    EXPECT_EQ(read[0].name, QStringLiteral("山田 太郎"));
    EXPECT_EQ(read[1].address, QStringLiteral("taro.work@example.jp"));
    EXPECT_EQ(read[2].name, QStringLiteral("Müller José"));
    EXPECT_EQ(read[2].address, QStringLiteral("jose@example.com"));
    EXPECT_EQ(read[3].name, QStringLiteral("佐藤 花子"));

    // Outlook's Japanese CSV in CP932, Google's English one in UTF-8.
    const QByteArray outlook = QByteArray::fromHex("90a92c96bc2c93648e718381815b838b2083418368838c"
                                                   "8358") +
                               "\r\n" + QByteArray::fromHex("8d8293632c8e9f9859") +
                               ",\"jiro@example.jp\"\r\n";
    const QList<AddressEntry> fromOutlook = addresses::readAddressFile(outlook);
    ASSERT_EQ(fromOutlook.size(), 1);
    EXPECT_EQ(fromOutlook[0].name, QStringLiteral("高田 次郎"));
    const QByteArray google = "\xEF\xBB\xBFName,Given Name,E-mail 1 - Value\r\n"
                              "\"Smith, Anna\",Anna,anna@example.com\r\n,,\r\n";
    ASSERT_EQ(addresses::readAddressFile(google).size(), 1);
    EXPECT_EQ(addresses::readAddressFile(google)[0].name, QStringLiteral("Smith, Anna"));

    TempFolder dir;
    const AddressBook book(dir.file(QStringLiteral("krddata20.data")),
                           dir.file(QStringLiteral("KRDDATA20.TMP")));
    ASSERT_TRUE(book.add(QStringLiteral("山田 太郎"), QStringLiteral("taro@example.jp")).ok());
    QList<AddressEntry> all = read;
    all.append({QString(50, u'長'), QStringLiteral("long@example.jp")});
    const addresses::AddOutcome added = addresses::addNew(book, all);
    EXPECT_EQ(added.added, 4);
    EXPECT_EQ(added.skipped, 1); // already there
    const QList<AddressEntry> entries = book.entries().value();
    ASSERT_EQ(entries.size(), 5);
    EXPECT_EQ(text::trimSpaces(entries[4].name), QString(30, u'長'));
    EXPECT_EQ(text::trimSpaces(entries[2].name), QStringLiteral("Muller Jose"));

    // Out as vCard 4.0 and CSV, and in again: the same entries, nothing new.
    for (const QByteArray& file : {addresses::writeVCards(entries), addresses::writeCsv(entries)}) {
        const QList<AddressEntry> again = addresses::readAddressFile(file);
        ASSERT_EQ(again.size(), 5);
        EXPECT_EQ(again[0].name, QStringLiteral("山田 太郎"));
        EXPECT_EQ(again[4].name, QString(30, u'長'));
        EXPECT_EQ(addresses::addNew(book, again).added, 0);
    }
    EXPECT_TRUE(addresses::writeVCards(entries).startsWith("BEGIN:VCARD\r\nVERSION:4.0\r\n"));
}

// Hostile address files: a long quoted-printable vCard reads in linear time,
// a CR in a name or address never starts a line of its own in what is
// written, a spreadsheet is not handed formulas, and a UTF-8 CSV with one
// bad byte stays UTF-8.
TEST(AddressExchange, HostileBooksAreReadFastAndWrittenSafely)
{
    // 1.5 MB of soft line breaks (which took 24 s): a bound far from the
    // normal, only against the quadratic.
    QByteArray card = "BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE;ENCODING=QUOTED-PRINTABLE:";
    for (int i = 0; i < 20'000; ++i) {
        card += "=41=42=43=44=45=46=47=48=49=4A=4B=4C=4D=4E=4F=50=51=52=53=54=55=56=57=\r\n";
    }
    card += "end\r\nFN:Big\r\nEMAIL:big@example.jp\r\nEND:VCARD\r\n";
    ASSERT_GT(card.size(), 1'400'000);
    QElapsedTimer timer;
    timer.start();
    const QList<AddressEntry> big = addresses::readAddressFile(card);
    EXPECT_LT(timer.elapsed(), 3'000);
    ASSERT_EQ(big.size(), 1);
    EXPECT_EQ(big[0].address, QStringLiteral("big@example.jp"));

    const QList<AddressEntry> hostile = {
        {QStringLiteral("悪い\r\nBEGIN:VCARD"), QStringLiteral("a@b.jp\rBcc: evil@x.jp")},
        {QStringLiteral("=HYPERLINK(\"http://x\",\"y\")"), QStringLiteral("+1@example.jp")},
        {QStringLiteral("@SUM(1)"), QStringLiteral("-x@example.jp")}};
    const QByteArray cards = addresses::writeVCards(hostile);
    const QByteArray csv = addresses::writeCsv(hostile);
    for (const QByteArray& file : {cards, csv}) {
        for (const QByteArray& line : file.split('\n')) {
            EXPECT_FALSE(line.chopped(line.endsWith('\r') ? 1 : 0).contains('\r'));
            EXPECT_FALSE(line.startsWith("Bcc:"));
        }
    }
    EXPECT_EQ(cards.count("\nBEGIN:VCARD") + 1, 3); // the name's stays inside its line
    for (const QByteArray& line : csv.split('\n').mid(1)) {
        const QByteArray cell = line.startsWith('"') ? line.mid(1) : line;
        EXPECT_FALSE(cell.startsWith('=') || cell.startsWith('+') || cell.startsWith('-') ||
                     cell.startsWith('@'))
            << line.constData();
    }
    // In again, the quote a spreadsheet needed comes off.
    const QList<AddressEntry> back = addresses::readAddressFile(csv);
    ASSERT_EQ(back.size(), 3);
    EXPECT_EQ(back[1].name, QStringLiteral("=HYPERLINK(\"http://x\",\"y\")"));
    EXPECT_EQ(back[2].address, QStringLiteral("-x@example.jp"));

    // UTF-8 throughout but one stray byte: read as UTF-8, the byte replaced.
    QByteArray utf8 = QStringLiteral("名前,メールアドレス\r\n").toUtf8();
    for (int i = 0; i < 30; ++i) {
        utf8 += QStringLiteral("山田 太郎%1,taro%1@example.jp\r\n").arg(i).toUtf8();
    }
    utf8 += "\xFF壊れ,broken@example.jp\r\n";
    const QList<AddressEntry> mostly = addresses::readAddressFile(utf8);
    ASSERT_EQ(mostly.size(), 31);
    EXPECT_EQ(mostly[0].name, QStringLiteral("山田 太郎0"));
    EXPECT_TRUE(mostly[30].name.endsWith(QStringLiteral("壊れ")));
}
