#include "compose/write_form.h"
#include "emoticons/kao_form.h"
#include "reply/back_form.h"
#include "store/text_codec.h"
#include "support/accessible_names.h"
#include "support/app_fixture.h"
#include "support/keyboard_walk.h"
#include "ui/picture_button.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

using namespace lumora;
using lumora::test::AppFixture;

namespace {

const QString kPage = QStringLiteral("（＾▽＾）　ヽ(・∀・)ノ\r\n(^_^;)  m(_ _)m\r\n");

// A program with the emoticon page in place (when one is given).
struct Picker {
    explicit Picker(const QByteArray& page = text::encodeCp932(kPage))
    {
        app.writeCompleteAccount();
        app.start();
        if (page.isNull()) {
            QFile::remove(pageFile());
        } else {
            app.root.write(QStringLiteral("app/顔文字データ/Kao1.txt"), page);
        }
    }
    QString pageFile() const { return app.root.file(QStringLiteral("app/顔文字データ/Kao1.txt")); }
    QByteArray page() const { return app.root.read(QStringLiteral("app/顔文字データ/Kao1.txt")); }
    // The compose window's "　　絵・顔文字".
    KaoForm* open()
    {
        QTest::mouseClick(app.mainForm->Picture3, Qt::LeftButton);
        app.windows->existing<WriteForm>()->Command8->click();
        return app.windows->existing<KaoForm>();
    }
    // Marks the first occurrence of the text in the page.
    static void mark(KaoForm* form, const QString& piece)
    {
        QTextCursor cursor = form->Kao1->textCursor();
        const int at = static_cast<int>(form->Kao1->toPlainText().indexOf(piece));
        QVERIFY(at >= 0);
        cursor.setPosition(at);
        cursor.setPosition(at + static_cast<int>(piece.size()), QTextCursor::KeepAnchor);
        form->Kao1->setTextCursor(cursor);
    }

    AppFixture app;
};

} // namespace

class KaoFormTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void opensFromTheComposeWindowWithThePage();
    void openingAndClosingLeavesThePageAsItWas();
    void insertsTheMarkedPieceTrimmed();
    void insertsIntoAReplyWindowThatIsNotOpen();
    void pastesAndKeepsEveryCharacter();
    void aMissingPageOpensEmptyAndIsMade();
    void everyControlHasAName();
    void tabLeavesThePageAndEscapeClosesThePicker();
};

void KaoFormTest::opensFromTheComposeWindowWithThePage()
{
    Picker p;
    QPointer<KaoForm> form = p.open();
    QVERIFY(form && form->isVisible());
    QCOMPARE(form->windowTitle(), QStringLiteral("絵・顔文字"));
    QCOMPARE(form->Kao1->toPlainText(),
             QString(kPage).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QCOMPARE(form->Command1->text(), QStringLiteral("挿入（新規作成）"));
    QCOMPARE(form->Command2->text(), QStringLiteral("挿入（返事を書く）"));
    QCOMPARE(form->Command3->text(), QStringLiteral("編集（貼付）"));
    QCOMPARE(form->Label1->text(), QStringLiteral("①挿入した範囲をマウスで選択（青色反転）"));
    QCOMPARE(form->Label2->text(),
             QStringLiteral("①挿入する場所を選択。「新規作成」または「返事を書く」"));
    QCOMPARE(form->Label3->text(), QStringLiteral("※名前他を編集すると自動で保存されます。新データ"
                                                  "の追加は編集　　　（貼付）で行います。"));
    QCOMPARE(form->Kao1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(p.app.ui.messages.isEmpty());
    // The page that comes with the program is put in place at start-up.
    AppFixture fresh;
    fresh.writeCompleteAccount();
    QVERIFY(fresh.start());
    const QString bundled =
        text::decodeCp932(fresh.root.read(QStringLiteral("app/顔文字データ/Kao1.txt")));
    QVERIFY(bundled.count(QStringLiteral("\r\n")) > 20);
    QVERIFY(bundled.contains(QStringLiteral("＾")));
}

void KaoFormTest::openingAndClosingLeavesThePageAsItWas()
{
    Picker p;
    const QByteArray before = p.page();
    for (int i = 0; i < 10; ++i) {
        QPointer<KaoForm> form = p.open();
        form->close();
        AppFixture::settle();
        QVERIFY(!form);
    }
    QCOMPARE(p.page(), before);
    // An edit typed into the page is kept at closing, and read at the next opening.
    QPointer<KaoForm> form = p.open();
    form->Kao1->moveCursor(QTextCursor::End);
    form->Kao1->insertPlainText(QStringLiteral("(*^^*)"));
    form->close();
    AppFixture::settle();
    QCOMPARE(p.page(), text::encodeCp932(kPage + QStringLiteral("(*^^*)\r\n")));
    form = p.open();
    QVERIFY(form->Kao1->toPlainText().endsWith(QStringLiteral("(*^^*)\n")));
    // Ending the program with the picker open keeps its edits too.
    form->Kao1->setPlainText(QStringLiteral("(=^・^=)"));
    p.app.mainForm->close();
    QCOMPARE(p.page(), text::encodeCp932(QStringLiteral("(=^・^=)\r\n")));
}

void KaoFormTest::insertsTheMarkedPieceTrimmed()
{
    Picker p;
    QPointer<KaoForm> form = p.open();
    WriteForm* compose = p.app.windows->existing<WriteForm>();
    compose->rtfEd->setPlainText(QStringLiteral("前後"));
    QTextCursor caret = compose->rtfEd->textCursor();
    caret.setPosition(1);
    compose->rtfEd->setTextCursor(caret);
    // A piece with spaces around it goes in without them; the clipboard keeps them.
    Picker::mark(form, QStringLiteral("  m(_ _)m"));
    form->Command1->click();
    AppFixture::settle();
    QVERIFY(!form);
    QCOMPARE(compose->rtfEd->toPlainText(), QStringLiteral("前m(_ _)m後"));
    QCOMPARE(p.app.ui.clipboard, QStringLiteral("  m(_ _)m"));

    // A piece of two lines keeps its line break; a selection at the caret is replaced.
    form = p.open();
    Picker::mark(form, QStringLiteral("ノ\n(^_^;)"));
    compose->rtfEd->selectAll();
    form->Command1->click();
    QCOMPARE(compose->rtfEd->toPlainText(), QStringLiteral("ノ\n(^_^;)"));

    // Nothing marked: nothing goes in, the clipboard is emptied, the picker closes.
    form = p.open();
    p.app.ui.clipboard = QStringLiteral("前の内容");
    form->Command1->click();
    AppFixture::settle();
    QVERIFY(!form);
    QVERIFY(p.app.ui.clipboard.isEmpty());
    QCOMPARE(compose->rtfEd->toPlainText(), QStringLiteral("ノ\n(^_^;)"));
}

void KaoFormTest::insertsIntoAReplyWindowThatIsNotOpen()
{
    Picker p;
    QPointer<KaoForm> form = p.open();
    QVERIFY(!p.app.windows->existing<BackForm>());
    Picker::mark(form, QStringLiteral("(^_^;)"));
    form->Command2->click();
    BackForm* reply = p.app.windows->existing<BackForm>();
    QVERIFY(reply);
    QVERIFY(!reply->isVisible());
    QCOMPARE(reply->BodyText->toPlainText(), QStringLiteral("(^_^;)"));
    // Into the compose window when it was closed: made hidden as well.
    p.app.windows->existing<WriteForm>()->close();
    AppFixture::settle();
    form = p.app.windows->show<KaoForm>();
    Picker::mark(form, QStringLiteral("ヽ(・∀・)ノ"));
    form->Command1->click();
    WriteForm* compose = p.app.windows->existing<WriteForm>();
    QVERIFY(compose && !compose->isVisible());
    QCOMPARE(compose->rtfEd->toPlainText(), QStringLiteral("ヽ(・∀・)ノ"));
}

void KaoFormTest::pastesAndKeepsEveryCharacter()
{
    Picker p;
    QPointer<KaoForm> form = p.open();
    form->Kao1->moveCursor(QTextCursor::End);
    p.app.ui.clipboard = QStringLiteral("  😀🎍 (◕‿◕)  ");
    form->Command3->click();
    QVERIFY(form->Kao1->isVisible());
    QVERIFY(form->Kao1->toPlainText().endsWith(QStringLiteral("m(_ _)m\n😀🎍 (◕‿◕)")));
    QVERIFY(p.page() == text::encodeCp932(kPage)); // written only at closing
    form->close();
    AppFixture::settle();
    QVERIFY(!form);
    // CP932 has no code for these: the page becomes UTF-8 with a byte-order
    // mark instead of losing them to "?".
    const QByteArray bytes = p.page();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(QString::fromUtf8(bytes).endsWith(QStringLiteral("😀🎍 (◕‿◕)\r\n")));
    form = p.open();
    QVERIFY(form->Kao1->toPlainText().contains(QStringLiteral("😀🎍 (◕‿◕)")));
    QVERIFY(p.app.ui.messages.isEmpty());
}

void KaoFormTest::aMissingPageOpensEmptyAndIsMade()
{
    Picker p{QByteArray()};
    QDir(p.app.root.file(QStringLiteral("app/顔文字データ"))).removeRecursively();
    QPointer<KaoForm> form = p.open();
    QVERIFY(form);
    QVERIFY(form->Kao1->toPlainText().isEmpty());
    QCOMPARE(p.app.ui.messages.size(), 1);
    QVERIFY(p.app.ui.messages[0].text.contains(QStringLiteral("見つかりません")));
    form->Kao1->setPlainText(QStringLiteral("(^o^)"));
    form->close();
    AppFixture::settle();
    QCOMPARE(p.page(), QByteArray("(^o^)\r\n"));

    // A page that is there but cannot be read (here a folder in its place)
    // is not replaced by an empty one: closing says nothing more and writes nothing.
    QFile::remove(p.pageFile());
    QVERIFY(QDir().mkpath(p.pageFile()));
    p.app.ui.messages.clear();
    form = p.open();
    QCOMPARE(p.app.ui.messages.size(), 1);
    QVERIFY(p.app.ui.messages[0].text.contains(QStringLiteral("読み込めませんでした")));
    form->close();
    AppFixture::settle();
    QVERIFY(!form);
    QCOMPARE(p.app.ui.messages.size(), 1);
    QVERIFY(QFileInfo(p.pageFile()).isDir());

    // A page that cannot be written keeps the picker open with its text,
    // until it can be.
    const QString folder = p.app.root.file(QStringLiteral("app/顔文字データ"));
    QVERIFY(QDir(folder).removeRecursively());
    p.app.root.write(QStringLiteral("app/顔文字データ"), "a file where the folder should be");
    form = p.open();
    form->Kao1->setPlainText(QStringLiteral("(^_-)"));
    p.app.ui.messages.clear();
    form->close();
    AppFixture::settle();
    QVERIFY(form && form->isVisible());
    QCOMPARE(p.app.ui.messages.size(), 1);
    QVERIFY(p.app.ui.messages[0].text.contains(QStringLiteral("保存できませんでした")));
    QFile::remove(folder);
    form->close();
    AppFixture::settle();
    QVERIFY(!form);
    QCOMPARE(p.page(), QByteArray("(^_-)\r\n"));
}

void KaoFormTest::everyControlHasAName()
{
    Picker p;
    KaoForm* form = p.open();
    const QStringList problems = lumora::test::nameProblems(
        form, {{form->Kao1, "顔文字"}, {form->Command1, "挿入（新規作成）"}});
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    QVERIFY(!form->Kao1->accessibleDescription().isEmpty());
}

void KaoFormTest::tabLeavesThePageAndEscapeClosesThePicker()
{
    using namespace lumora::test;
    Picker p;
    QPointer<KaoForm> form = p.open();
    QVERIFY(activate(form));
    const QString page = form->Kao1->toPlainText();
    // Tab moves on instead of typing into the page (which is saved).
    QCOMPARE(tabChain(form->Kao1), objectNames({"Kao1", "Command1", "Command2", "Command3"}));
    QCOMPARE(form->Kao1->toPlainText(), page);
    QTest::keyClick(form->Command1, Qt::Key_Escape);
    QTRY_VERIFY(!form);
}

QTEST_MAIN(KaoFormTest)
#include "kao_form_test.moc"
