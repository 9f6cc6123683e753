// The decoding corpus in tests/data/mail (written by make_corpus.py): each
// mail goes through the library's decoding entry point as the receive cycle
// passes it, attachments into a throw-away folder.

#include "mail/attachment_files.h"
#include "mail/mail_library.h"
#include "mail/mail_text.h"
#include "mail/mime_decoder.h"
#include "mail/net_error.h"
#include "store/text_codec.h"
#include "support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <unistd.h>

#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::TempFolder;

namespace {

struct Decoded {
    int result = 0;
    MailFields fields;
    QString body;
    QStringList files; // names in the attachment folder, sorted
};

class Corpus : public ::testing::Test {
protected:
    Corpus()
    {
        MailLibraryOptions options;
        options.partialFolder = root.file(QStringLiteral("partial"));
        mail = createMailLibrary(options);
        QDir().mkpath(folder());
    }

    QString folder() const { return root.file(QStringLiteral("添付フォルダ")); }
    QByteArray file(const QString& name) const
    {
        QFile f(folder() + u'/' + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    Decoded decode(const char* name)
    {
        QFile f(QStringLiteral(LUMORA_CORPUS) + u'/' + QString::fromLatin1(name));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
        const QByteArray raw = f.readAll();
        qsizetype end = raw.indexOf("\r\n\r\n");
        Decoded d;
        // As the retrieval hands them over: the header block and the body,
        // one byte per character.
        d.fields.header = QString::fromLatin1(end < 0 ? raw : raw.left(end + 2));
        d.body = end < 0 ? QString() : QString::fromLatin1(raw.mid(end + 4));
        QString text;
        d.result = mail->NMailAttachmentFileFirst(0, d.fields, d.body, folder() + u'/',
                                                  folder() + QStringLiteral("/0.txt"), text, 0);
        d.files = QDir(folder()).entryList(QDir::Files, QDir::Name);
        return d;
    }

    TempFolder root;
    std::unique_ptr<MailLibrary> mail;
};

TEST_F(Corpus, JapaneseCharsetsAsWindowsAndMobileMailersSendThem)
{
    Decoded d = decode("iso2022jp_windows_extensions.eml");
    EXPECT_EQ(d.fields.subject, QStringLiteral("①会議㈱の件"));
    EXPECT_EQ(d.fields.from, QStringLiteral("髙橋 <takahashi@example.jp>"));
    EXPECT_EQ(d.body, QStringLiteral("髙橋です。\r\n①②③ ㈱ № ～ ｶﾀｶﾅ\r\n以上"));
    EXPECT_EQ(d.result, 0);
    EXPECT_TRUE(text::fitsCp932(d.body)); // it stores without loss

    d = decode("shift_jis_label.eml");
    EXPECT_EQ(d.fields.subject, QStringLiteral("～波ダッシュ①"));
    EXPECT_EQ(d.body, QStringLiteral("全角チルダ～と①、NEC特殊文字㈱\r\n"));

    d = decode("euc_jp.eml");
    EXPECT_EQ(d.fields.subject, QStringLiteral("日本語の件名"));
    EXPECT_EQ(d.body, QStringLiteral("EUC-JPの本文です。\r\n"));

    d = decode("utf8_split_words.eml");
    EXPECT_EQ(d.fields.subject, QStringLiteral("絵文字なしのUTF-8件名"));
    EXPECT_EQ(d.body, QStringLiteral("UTF-8の本文　𠮷野家\r\n"));

    d = decode("halfwidth_kana.eml");
    EXPECT_EQ(d.fields.subject, QStringLiteral("ﾊﾝｶｸｶﾅ"));
    EXPECT_EQ(d.body, QStringLiteral("ﾃｽﾄﾒｰﾙ ｶﾞｷﾞｸﾞ\r\nｶｷ\r\n"));

    d = decode("latin1_q.eml");
    EXPECT_EQ(d.fields.subject, QStringLiteral("Café crème"));
    EXPECT_TRUE(d.body.startsWith(QStringLiteral("Ça coûte 5 ?")));
}

TEST_F(Corpus, MissingAndWrongCharsetsAreGuessed)
{
    Decoded d = decode("raw_8bit_cp932.eml");
    EXPECT_EQ(d.fields.subject, QStringLiteral("生の８ビット件名"));
    EXPECT_EQ(d.body, QStringLiteral("文字コード指定のない本文です。\r\n"));
    d = decode("raw_8bit_euc.eml");
    EXPECT_EQ(d.fields.subject, QStringLiteral("ＥＵＣの生ヘッダ"));
    EXPECT_EQ(d.body, QStringLiteral("こちらもEUC-JPで書かれた本文です。ひらがなとカタカナ。\r\n"));
    d = decode("wrong_label_utf8.eml");
    EXPECT_EQ(d.fields.subject, QStringLiteral("間違ったラベル"));
    EXPECT_EQ(d.body, QStringLiteral("本当はUTF-8です。\r\n"));
}

TEST_F(Corpus, AttachmentNamesInEveryForm)
{
    const Decoded d = decode("rfc2231_continuations.eml");
    EXPECT_EQ(d.result, 1);
    // The line end before a boundary belongs to the boundary.
    EXPECT_EQ(d.body, QStringLiteral("see attached"));
    const QString longName = QStringLiteral("とても長い名前").repeated(8) + QStringLiteral(".pdf");
    EXPECT_EQ(d.files, (QStringList{longName, QStringLiteral("生の名前.xls"),
                                    QStringLiteral("画像.png"), QStringLiteral("議事録.txt")}));
    QByteArray pdf = "%PDF-1.4\n";
    for (int i = 0; i < 8; ++i) {
        for (int b = 0; b < 256; ++b) {
            pdf.append(static_cast<char>(b));
        }
    }
    pdf += "%%EOF\n";
    EXPECT_EQ(file(longName), pdf);
    EXPECT_EQ(file(QStringLiteral("議事録.txt")), QByteArray("minutes"));
}

TEST_F(Corpus, NamesNeverLeaveTheFolderOrOverwrite)
{
    QFile existing(folder() + QStringLiteral("/same.txt"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("earlier");
    existing.close();
    const Decoded d = decode("hostile_names.eml");
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(file(QStringLiteral("same.txt")), QByteArray("earlier"));
    EXPECT_EQ(file(QStringLiteral("same (2).txt")), QByteArray("six"));
    EXPECT_EQ(file(QStringLiteral("same (3).txt")), QByteArray("seven"));
    EXPECT_EQ(file(QStringLiteral("passwd")), QByteArray("one"));
    EXPECT_EQ(file(QStringLiteral("_CON.txt")), QByteArray("three"));
    EXPECT_EQ(file(QStringLiteral("c_d_e_.txt")), QByteArray("four"));
    EXPECT_EQ(file(QStringLiteral("path.sh")), QByteArray("nine"));
    for (const QString& name : d.files) {
        EXPECT_LE(name.toUtf8().size(), 200) << qPrintable(name);
        EXPECT_FALSE(name.startsWith(QLatin1Char('.'))) << qPrintable(name);
        for (const QChar c : name) {
            EXPECT_GE(c.unicode(), 0x20) << qPrintable(name);
        }
    }
    EXPECT_EQ(d.files.size(), 10); // nine attachments and the earlier file
    EXPECT_TRUE(QDir(root.path()).entryList(QDir::Files).isEmpty()); // nothing outside
}

TEST_F(Corpus, UuencodeForwardedAndSplitMails)
{
    Decoded d = decode("uuencode_inline.eml");
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.body, QStringLiteral("Before the file.\r\nAfter the file.\r\n"));
    const QByteArray hello = QByteArray("Hello, uuencoded world!\n").repeated(2) + "second line\n";
    EXPECT_EQ(file(QStringLiteral("hello.txt")), hello);

    d = decode("x_uuencode.eml");
    EXPECT_EQ(file(QStringLiteral("hello (2).txt")), hello);

    d = decode("message_rfc822.eml");
    EXPECT_EQ(d.body, QStringLiteral("forwarded below"));
    EXPECT_TRUE(d.files.contains(QStringLiteral("転送されたメール.eml")));
    EXPECT_TRUE(file(QStringLiteral("転送されたメール.eml")).contains("From: inner@example.jp"));

    // Three pieces: -6 until the last has come, then the whole mail.
    EXPECT_EQ(decode("partial_2.eml").result, -6);
    EXPECT_EQ(decode("partial_1.eml").result, -6);
    d = decode("partial_3.eml");
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.fields.subject, QStringLiteral("分割メール"));
    EXPECT_EQ(d.fields.from, QStringLiteral("big@example.jp"));
    EXPECT_EQ(d.body, QStringLiteral("三つに分けて送りました"));
    EXPECT_EQ(file(QStringLiteral("data.bin")).size(), 256 * 20);
    EXPECT_FALSE(QDir(root.file(QStringLiteral("partial")))
                     .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                     .size() > 0);
}

TEST_F(Corpus, TheBodyIsThePlainTextAndHtmlIsMadeReadable)
{
    Decoded d = decode("html_only.eml");
    // Paragraphs are set apart by an empty line, as a reader would see them.
    EXPECT_EQ(d.body, QStringLiteral("こんにちは &<世界>\r\n\r\n二行目\r\n三行目①①"));
    d = decode("nested_alternative.eml");
    EXPECT_EQ(d.body, QStringLiteral("プレーンテキスト版\r\n\r\n-- \r\nmailing list footer"));
    // The HTML version's picture is kept too; its text is not.
    EXPECT_EQ(d.files, (QStringList{QStringLiteral("report.pdf"), QStringLiteral("添付1.gif")}));
}

// Faults real mail still found: labels in mixed case, a blank line before
// the header, links in an HTML-only mail, the file names of older mailers.
TEST_F(Corpus, LabelsInAnyCaseAndABlankLineBeforeTheHeader)
{
    Decoded d = decode("mixed_case_labels.eml");
    EXPECT_EQ(d.fields.subject, QStringLiteral("会議のご案内"));
    EXPECT_EQ(d.fields.from, QStringLiteral("山田 <yamada@example.jp>"));
    EXPECT_EQ(d.body, QStringLiteral("会議のご案内です。\r\n"));
    EXPECT_EQ(d.files, QStringList{QStringLiteral("報告.txt")});
    EXPECT_EQ(file(QStringLiteral("報告.txt")), QByteArray("report"));

    d = decode("mixed_case_single.eml");
    EXPECT_EQ(d.body, QStringLiteral("八ビットの本文です。\r\n"));
    d = decode("mixed_case_qp.eml");
    EXPECT_EQ(d.body, QStringLiteral("シフトJISの本文です。\r\n"));

    d = decode("leading_blank_line.eml");
    EXPECT_EQ(d.fields.subject, QStringLiteral("空行の後の件名"));
    EXPECT_EQ(d.fields.from, QStringLiteral("sender@example.jp"));
    EXPECT_EQ(d.body, QStringLiteral("本文です。"));
}

TEST_F(Corpus, AnHtmlOnlyMailKeepsItsLinks)
{
    const Decoded d = decode("html_links.eml");
    EXPECT_EQ(
        d.body,
        QStringLiteral("詳しくはこちらのページ (https://example.jp/guide?a=1&b=2)をご覧ください。"
                       "\r\n\r\nhttps://example.jp/same お問い合わせ (info@example.jp) "
                       "上へ 先頭 x"));
}

TEST_F(Corpus, OlderMailersFilesKeepTheirNames)
{
    Decoded d = decode("old_mailer_names.eml");
    EXPECT_EQ(d.body, QStringLiteral("本文"));
    EXPECT_EQ(d.files, (QStringList{QStringLiteral("notes.txt"), QStringLiteral("photo.jpg"),
                                    QStringLiteral("readme.txt"), QStringLiteral("見積書.xls")}));
    EXPECT_EQ(file(QStringLiteral("notes.txt")), QByteArray("Mac data fork\r\n").repeated(3));
    EXPECT_EQ(file(QStringLiteral("photo.jpg")), QByteArray("\xff\xd8jpeg"));

    d = decode("binhex_inline.eml");
    EXPECT_EQ(d.files.size(), 5);
    EXPECT_TRUE(d.files.contains(QStringLiteral("予定表.txt")));
    EXPECT_EQ(file(QStringLiteral("予定表.txt")),
              QByteArray("\x97\x88\x8f\x54\x82\xcc\x97\x5c\x92\xe8\r\n")); // CP932
    EXPECT_EQ(d.body, QStringLiteral("The file follows.\r\n\r\nThanks.\r\n"));
}

TEST_F(Corpus, BrokenAndHostileMailsGiveWhatCanBeRead)
{
    Decoded d = decode("truncated.eml");
    EXPECT_TRUE(d.body.startsWith(QStringLiteral("途中で切れたメール")));
    EXPECT_TRUE(d.files.contains(QStringLiteral("cut.pdf")));
    d = decode("deep_nesting.eml");
    EXPECT_EQ(d.fields.subject, QStringLiteral("deep"));
    d = decode("garbage.eml");
    d = decode("no_body.eml");
    EXPECT_EQ(d.fields.subject, QStringLiteral("only a header"));
    EXPECT_TRUE(d.body.isEmpty());
}

TEST_F(Corpus, AnAttachmentThatCannotBeWrittenGivesMinusFive)
{
    QDir(folder()).removeRecursively();
    const Decoded d = decode("x_uuencode.eml");
    EXPECT_EQ(d.result, -5);
    EXPECT_EQ(d.body, QStringLiteral("text")); // the mail itself still reads
}

TEST(Base64Lines, MailsLinesDecodeAsStandardBase64AndAnythingOddIsLeftToGMime)
{
    QByteArray data;
    for (int length = 0; length < 300; length += 7) {
        while (data.size() < length) {
            data.append(static_cast<char>((data.size() * 131 + 7) % 256));
        }
        const QByteArray encoded = data.toBase64();
        for (const QByteArray& end : {QByteArray("\r\n"), QByteArray("\n")}) {
            QByteArray lines;
            for (qsizetype at = 0; at < encoded.size(); at += 76) {
                lines += encoded.mid(at, 76) + (at % 152 == 0 ? " " : "") + end;
            }
            const std::optional<QByteArray> got = mime::decodeBase64Lines(lines + end);
            ASSERT_TRUE(got) << lines.constData();
            EXPECT_EQ(*got, data) << lines.constData();
            EXPECT_EQ(mime::decodeBase64Lines(encoded), data);
        }
    }
    for (const char* odd : {"QQ=", "QQ==QQ==", "QQ==\r\nQg==", "Q Q==", "QUJD\rREVG", "QUJ",
                            "=QUJD", "QUJD*", "QUJDRA=x", "QUJDRA==\r\nx"}) {
        EXPECT_FALSE(mime::decodeBase64Lines(QByteArray(odd))) << odd;
    }

    // Through the decoder: the odd form is still read as GMime reads it,
    // the first padding ending the data.
    const QByteArray mail = "From: a@example.jp\r\nSubject: s\r\nMIME-Version: 1.0\r\n"
                            "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                            "--b\r\nContent-Type: text/plain\r\n\r\ntext\r\n"
                            "--b\r\nContent-Type: application/octet-stream; name=one.bin\r\n"
                            "Content-Transfer-Encoding: base64\r\n\r\nQUJD\r\nREVG\r\nRw==\r\n"
                            "--b\r\nContent-Type: application/octet-stream; name=two.bin\r\n"
                            "Content-Transfer-Encoding: base64\r\n\r\nQQ==\r\nQg==\r\n--b--\r\n";
    const mime::DecodedMail decoded = mime::decodeMail(mail);
    ASSERT_EQ(decoded.attachments.size(), 2);
    EXPECT_EQ(decoded.attachments[0].data, QByteArray("ABCDEFG"));
    EXPECT_EQ(decoded.attachments[1].data, QByteArray("A"));
}

TEST(MailText, EncodedWordsJoinAsBytesAndLiteralsStay)
{
    // "あ" in UTF-8 split over two words, white space between them dropped.
    EXPECT_EQ(mailtext::decodeHeader("=?UTF-8?B?44E=?= =?utf-8?B?gg==?= x"),
              QStringLiteral("あ x"));
    EXPECT_EQ(mailtext::decodeHeader("a =?ISO-8859-1?Q?=E9t=E9?= b"), QStringLiteral("a été b"));
    EXPECT_EQ(mailtext::decodeHeader("=?bogus"), QStringLiteral("=?bogus"));
    EXPECT_EQ(mailtext::decodeHeader("Re:\r\n\tfolded"), QStringLiteral("Re:\tfolded"));
    const mailtext::HeaderValue v =
        mailtext::parseHeaderValue("Text/Plain; charset=\"ISO-2022-JP\"; format=flowed; x");
    EXPECT_EQ(v.value, QByteArray("text/plain"));
    EXPECT_EQ(v.params.value("charset"), QStringLiteral("ISO-2022-JP"));
    EXPECT_EQ(v.params.value("format"), QStringLiteral("flowed"));
}

TEST(MailText, RawEightBitHeadersTryUtf8TheDeclaredCharsetTheGuessThenWindows1252)
{
    const QByteArray sjis = QByteArray::fromHex("93fa967b8cea"); // 日本語 in CP932
    const QByteArray euc = QByteArray::fromHex("c6fccbdcb8ec");  // 日本語 in EUC-JP
    EXPECT_EQ(mailtext::decodeHeader("caf\xc3\xa9"), QStringLiteral("café"));
    EXPECT_EQ(mailtext::decodeHeader(sjis), QStringLiteral("日本語"));
    EXPECT_EQ(mailtext::decodeHeader(euc, "EUC-JP"), QStringLiteral("日本語"));
    // Latin-1 bytes: the declared charset when the mail gives one; without
    // it, a CP932 reading would swallow letters, so windows-1252.
    EXPECT_EQ(mailtext::decodeHeader("Gr\xfc\xdf"
                                     "e aus K\xf6ln",
                                     "iso-8859-1"),
              QStringLiteral("Grüße aus Köln"));
    EXPECT_EQ(mailtext::decodeHeader("Caf\xe9s \x93quoted\x94"), QStringLiteral("Cafés “quoted”"));
    EXPECT_EQ(mailtext::decodeHeader("na\xefve"), QStringLiteral("naïve"));
    // A declared charset that cannot read the bytes is passed over.
    EXPECT_EQ(mailtext::decodeHeader(sjis, "iso-2022-jp"), QStringLiteral("日本語"));
    // CP932's user-defined rows are no reading of a header.
    EXPECT_EQ(mailtext::decodeHeader("\xf0\x40"), QStringLiteral("ð@"));
}

TEST(NetErrorText, AMailboxInUseOnlyWhenTheServerSaysSo)
{
    const QString inUse = QStringLiteral("メールボックスがほかの接続で使用中です");
    EXPECT_TRUE(networkErrorText(NetError::ServerError, QStringLiteral("h"),
                                 "-ERR [IN-USE] Mailbox is locked")
                    .startsWith(inUse));
    EXPECT_TRUE(networkErrorText(NetError::ServerError, QStringLiteral("h"), "-ERR Mailbox locked")
                    .startsWith(inUse));
    const QString blocked =
        networkErrorText(NetError::LoginDenied, QStringLiteral("h"), "-ERR [AUTH] Account blocked");
    EXPECT_TRUE(blocked.startsWith(QStringLiteral("IDまたはパスワード")));
    EXPECT_TRUE(blocked.contains(QStringLiteral("Account blocked"))); // the reply is shown
}

TEST(AttachmentNames, SafeNames)
{
    using attachments::safeFileName;
    EXPECT_EQ(safeFileName(QStringLiteral("..\\..\\boot.ini")), QStringLiteral("boot.ini"));
    EXPECT_EQ(safeFileName(QStringLiteral("nul")), QStringLiteral("_nul"));
    EXPECT_EQ(safeFileName(QStringLiteral("lpt1.txt")), QStringLiteral("_lpt1.txt"));
    EXPECT_EQ(safeFileName(QStringLiteral("  .  ")), QStringLiteral("添付ファイル"));
    EXPECT_EQ(safeFileName(QStringLiteral("報告書.")), QStringLiteral("報告書"));
    const QString cut = safeFileName(QString(300, QChar(u'あ')) + QStringLiteral(".xlsx"));
    EXPECT_TRUE(cut.endsWith(QStringLiteral(".xlsx")));
    EXPECT_LE(cut.toUtf8().size(), 200);
}

// Files made ahead for a receive are the attachments' files once written and
// named; those not taken leave nothing behind, not even an open file.
TEST(AttachmentFiles, FilesMadeAheadGetTheirNamesOnlyWhenWrittenAndTheRestVanish)
{
    TempFolder dir;
    const auto openFiles = [] {
        const QDir fds(QStringLiteral("/proc/self/fd"));
        return fds.entryList(QDir::AllEntries | QDir::System | QDir::Hidden).size();
    };
    const auto before = openFiles();
    QStringList written;
    {
        const attachments::FilesAhead ahead(dir.path());
        QThread::msleep(20);
        EXPECT_EQ(openFiles(), before); // none made before one is asked for
        int made = -1;
        for (int i = 0; i < 200 && made < 0; ++i) {
            made = attachments::FilesAhead::take(dir.path() + u'/');
            QThread::msleep(5);
        }
        ASSERT_GE(made, 0);
        ::close(made);
        for (int i = 0; i < 12; ++i) {
            const Result<QString> path = attachments::writeNew(
                dir.path(), QStringLiteral("写真.jpg"), QByteArray(5000 + i, char('a' + i)));
            ASSERT_TRUE(path.ok());
            written.append(QFileInfo(path.value()).fileName());
        }
    }
    EXPECT_EQ(openFiles(), before);
    QStringList expected{QStringLiteral("写真.jpg")};
    for (int n = 2; n <= 12; ++n) {
        expected.append(QStringLiteral("写真 (%1).jpg").arg(n));
    }
    EXPECT_EQ(written, expected);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), [&] {
        QStringList sorted = expected;
        sorted.sort();
        return sorted;
    }());
    EXPECT_EQ(dir.read(QStringLiteral("写真 (12).jpg")), QByteArray(5011, 'l'));
}

TEST(AttachmentFiles, OnlyTheTemporaryFilesACrashLeftAreRemoved)
{
    TempFolder dir;
    const QStringList kept = {QStringLiteral("写真.part"), QStringLiteral(".lumora-memo.txt"),
                              QStringLiteral("lumora-a1b2c3.part"), QStringLiteral("a.jpg")};
    for (const QString& name : kept) {
        dir.write(name, "kept");
    }
    dir.write(QStringLiteral(".lumora-a1b2c3.part"), "torn");
    attachments::removeLeftovers(dir.path());
    QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    left.sort();
    QStringList expected = kept;
    expected.sort();
    EXPECT_EQ(left, expected);
}

} // namespace
