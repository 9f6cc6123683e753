#include "addressbook/friend_form.h"
#include "compose/editor_commands.h"
#include "mail/mail_library.h"
#include "settings/account_settings.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "store/originals.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "support/accessible_names.h"
#include "support/app_fixture.h"
#include "support/keyboard_walk.h"
#include "support/mail_servers.h"
#include "support/received_file.h"
#include "support/scripted_mailbox.h"
#include "ui/geometry.h"
#include "ui/list_header.h"
#include "ui/picture_button.h"
#include "viewer/tyaku_form.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTextEdit>
#include <QThread>
#include <QToolBar>
#include <QTreeView>

using namespace lumora;
using lumora::test::AppFixture;
using lumora::test::fileOf;
using lumora::test::MailServers;
using lumora::test::recordsIn;
using lumora::test::ScriptedMailbox;
using lumora::test::subjectsIn;
using lumora::test::unnamedControls;

namespace {

MailRecord mail(const QString& subject, const QString& body = QStringLiteral("本文"))
{
    return MailRecord::received(subject, QStringLiteral("太郎 <taro@example.jp>"),
                                QStringLiteral("Mon, 7 Dec 2026 10:00:00 +0900"), body);
}

void moveOver(QWidget* widget, QPoint at = {3, 3})
{
    QMouseEvent move(QEvent::MouseMove, QPointF(at), widget->mapToGlobal(QPointF(at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

QAction* tool(TyakuForm* form, const char* key)
{
    return form->tbToolBar->findChild<QAction*>(QString::fromLatin1(key));
}

// A program whose received-mail file holds the mails, with the viewer opened
// from the main window's view button.
struct Viewer {
    explicit Viewer(const QList<MailRecord>& records = {}, const QByteArray& ini = {})
    {
        app.writeCompleteAccount();
        app.writeData(QStringLiteral("krddata2.data"), fileOf(records));
        if (!ini.isEmpty()) {
            app.writeData(QStringLiteral("ini.ini"), "[EXEINI]\r\n" + ini);
        }
    }
    TyakuForm* open()
    {
        if (!app.mainForm && !app.start()) {
            return nullptr;
        }
        QTest::mouseClick(app.mainForm->Picture5, Qt::LeftButton);
        return app.windows->existing<TyakuForm>();
    }
    TyakuForm* form() { return app.windows->existing<TyakuForm>(); }
    void clickRow(int row)
    {
        QTreeView* list = form()->MailListView;
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }
    // Lets a deletion or a receive end and report to the windows.
    void settle()
    {
        for (int i = 0; i < 5000 && (app.mainForm->receiving() || (form() && form()->rewriting()));
             ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        QCoreApplication::processEvents();
    }
    QByteArray received() const { return app.readData(QStringLiteral("krddata2.data")); }
    QString lastMessage() const
    {
        return app.ui.messages.isEmpty() ? QString() : app.ui.messages.last().text;
    }

    AppFixture app;
};

// Counts the style changes of the widget it watches.
class StyleWatch : public QObject {
public:
    int changes = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        changes += event->type() == QEvent::StyleChange ? 1 : 0;
        return false;
    }
};

} // namespace

class TyakuFormTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openListsEveryRecordAndShowsTheLast();
    void cellsAreCutAtNulAndKeepTheirPadding();
    void rowClicksAndAnEmptyList();
    void deleteOneAndDeleteAll();
    void searchAndFindNext();
    void quickSaveAndSaveAs();
    void copyFieldAndExplanations();
    void layoutFollowsTheWindow();
    void styleTogglesAreSharedWithTheComposeWindow();
    void editorCommands();
    void printsCopiesToAPdfFile();
    void loadStepReadsTheCurrentDocument();
    void receiveFillsTheOpenViewerAndTheCounts();
    void deletionAndReceiveNeverOverlap();
    void aDeletionDuringASlowReceiveLosesNoMail();
    void receiveThroughTheRealServersIntoTheViewer();
    void accessibleNamesAndDescriptions();
    void rowsAreChosenByKeyboardAndScreenReaderAsByTheMouse();
    void searchKeysAndTheTabChain();
    void columnHeadingsSortAndActionsActOnTheShownMail();
    void searchAcrossEveryMailFiltersTheListAsYouType();
};

void TyakuFormTest::openListsEveryRecordAndShowsTheLast()
{
    Viewer v({mail(QStringLiteral("一"), QStringLiteral("  最初  ")), mail(QStringLiteral("二")),
              mail(QStringLiteral("三"), QStringLiteral("  最後\r\n二行目  "))});
    TyakuForm* form = v.open();
    QVERIFY(form && form->isVisible());
    QCOMPARE(form->windowTitle(), QStringLiteral("着信履歴"));
    QCOMPARE(v.app.context->listMode, 1);
    QCOMPARE(form->MailListView->palette().color(QPalette::Base), QColor(210, 250, 250));
    QVERIFY(ui::hasPaintedHeader(form->MailListView));
    QAbstractItemModel* rows = form->MailListView->model();
    QCOMPARE(rows->rowCount(), 3);
    QCOMPARE(rows->index(0, 0).data().toString().trimmed(), QStringLiteral("一"));
    QCOMPARE(rows->index(2, 0).data().toString().trimmed(), QStringLiteral("三"));
    QCOMPARE(rows->headerData(1, Qt::Horizontal).toString(), QStringLiteral("From"));
    QCOMPARE(form->Text2->text(), QStringLiteral("3"));
    QCOMPARE(v.app.mainForm->Text4->text(), QStringLiteral("3"));
    QCOMPARE(form->Text7->text(), QStringLiteral("三"));
    QCOMPARE(form->Text8->text(), QStringLiteral("太郎 <taro@example.jp>"));
    QCOMPARE(form->Text9->text(), QStringLiteral("Mon, 7 Dec 2026 10:00:00 +0900"));
    QCOMPARE(editorText(form->rtfEd), QStringLiteral("最後\r\n二行目"));
    QCOMPARE(v.app.ui.clipboard, QStringLiteral("最後\n二行目"));
    QCOMPARE(v.app.context->recordBuffer.get().subject().trimmed(), QStringLiteral("三"));
    // Column widths: a half and two quarters of the list's width at load.
    const int width = ui::twips(9375);
    QVERIFY(std::abs(form->MailListView->columnWidth(0) - width / 2) <= 1);
    QVERIFY(std::abs(form->MailListView->columnWidth(2) - width / 4) <= 1);

    form->close();
    QVERIFY(!ui::hasPaintedHeader(form->MailListView));
    AppFixture::settle();
    QVERIFY(!v.app.windows->existing<TyakuForm>());
}

void TyakuFormTest::cellsAreCutAtNulAndKeepTheirPadding()
{
    MailRecord withNul = mail(QStringLiteral("abcdXefg"));
    QByteArray bytes = withNul.bytes();
    bytes[4] = '\0';
    Viewer v({MailRecord::fromBytes(bytes), mail(QStringLiteral("短い"))});
    TyakuForm* form = v.open();
    QAbstractItemModel* rows = form->MailListView->model();
    QCOMPARE(rows->index(0, 0).data().toString(), QStringLiteral("abcd"));
    const QString padded = rows->index(1, 0).data().toString();
    QCOMPARE(padded.size(), 2 + 96); // 短い is 4 bytes of 100: the padding is kept
    QVERIFY(padded.startsWith(QStringLiteral("短い ")));
    v.clickRow(0);
    QCOMPARE(form->Text7->text(), QStringLiteral("abcd"));
}

void TyakuFormTest::rowClicksAndAnEmptyList()
{
    { // an empty file: a click says there is nothing and still sets the marker
        Viewer v;
        TyakuForm* form = v.open();
        QCOMPARE(form->Text2->text(), QStringLiteral("0"));
        QTest::mouseClick(form->MailListView->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(v.lastMessage(), QStringLiteral("選択するデータがありません。"));
        QCOMPARE(v.app.ui.messages.last().title, kAppTitle);
        QCOMPARE(form->Text5->text(), QStringLiteral("1"));
    }
    { // row 2 of 5
        Viewer v({mail(QStringLiteral("1")), mail(QStringLiteral("2"), QStringLiteral("二通目")),
                  mail(QStringLiteral("3")), mail(QStringLiteral("4")), mail(QStringLiteral("5"))});
        TyakuForm* form = v.open();
        QCOMPARE(form->Text5->text(), QString());
        v.clickRow(1);
        QCOMPARE(form->Text5->text(), QStringLiteral("1"));
        QCOMPARE(form->Text7->text(), QStringLiteral("2"));
        QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("二通目"));
        QCOMPARE(v.app.ui.clipboard, QStringLiteral("二通目"));
        QCOMPARE(v.app.context->recordBuffer.get().body().trimmed(), QStringLiteral("二通目"));
        QVERIFY(v.app.ui.messages.isEmpty());
    }
}

void TyakuFormTest::deleteOneAndDeleteAll()
{
    Viewer v({mail(QStringLiteral("一")), mail(QStringLiteral("二")), mail(QStringLiteral("三"))});
    TyakuForm* form = v.open();
    const QByteArray before = v.received();

    // Without a click first: nothing happens but the message.
    form->Command3->click();
    QCOMPARE(v.lastMessage(), QStringLiteral("データが選択されていません"));

    // No: the body and the marker are emptied, the file is untouched.
    v.clickRow(1);
    v.app.ui.answers = {false};
    form->Command3->click();
    QCOMPARE(v.app.ui.messages.last().title, QStringLiteral("確認"));
    QCOMPARE(v.app.ui.messages.last().icon, MessageIcon::Question);
    QVERIFY(form->rtfEd->toPlainText().isEmpty());
    QVERIFY(form->Text5->text().isEmpty());
    QCOMPARE(v.received(), before);

    v.clickRow(1);
    v.app.ui.answers = {true};
    form->Command3->click();
    v.settle();
    // The question names the mail it deletes; Enter alone answers No.
    QVERIFY(v.app.ui.messages.last().text.startsWith(
        QStringLiteral("選択された（行、青色）データを削除します。よろしいですか\r\n\r\n"
                       "件名: 二\r\n差出人: 太郎")));
    QCOMPARE(v.app.ui.messages.last().byDefault, DefaultAnswer::No);
    QCOMPARE(v.received(), before.left(MailRecord::kLength) + before.right(MailRecord::kLength));
    QVERIFY(!QFile::exists(v.app.dataFile(QStringLiteral("KRDDATA2.TMP"))));
    QCOMPARE(form->MailListView->model()->rowCount(), 2);
    QCOMPARE(form->MailListView->model()->index(1, 0).data().toString().trimmed(),
             QStringLiteral("三"));
    QCOMPARE(form->Text2->text(), QStringLiteral("2"));
    QCOMPARE(v.app.mainForm->Text4->text(), QStringLiteral("2"));
    QCOMPARE(form->Text7->text(), QStringLiteral("三")); // refilled: the last mail shows
    // The marker was used up: the buttons that need a selection refuse.
    form->Command2->click();
    QCOMPARE(v.lastMessage(), QStringLiteral("データが選択されていません"));

    // Delete all: one atomic empty file, every count 0, every field empty.
    v.app.mainForm->Text1->setPlainText(QStringLiteral("3"));
    v.app.ui.answers = {false};
    form->Command6->click();
    QCOMPARE(v.received().size(), 2 * MailRecord::kLength);
    v.app.ui.answers = {true};
    form->Command6->click();
    v.settle();
    QCOMPARE(v.app.ui.messages.last().text, QStringLiteral("すべてのデータを削除して良いですか？"));
    QCOMPARE(v.app.ui.messages.last().byDefault, DefaultAnswer::No);
    QVERIFY(QFile::exists(v.app.dataFile(QStringLiteral("krddata2.data"))));
    QCOMPARE(v.received().size(), 0);
    QCOMPARE(form->MailListView->model()->rowCount(), 0);
    QCOMPARE(form->Text2->text(), QStringLiteral("0"));
    QCOMPARE(v.app.mainForm->Text4->text(), QStringLiteral("0"));
    QCOMPARE(v.app.mainForm->Text1->toPlainText(), QStringLiteral("0"));
    QVERIFY(form->Text7->text().isEmpty() && form->Text8->text().isEmpty() &&
            form->Text9->text().isEmpty() && form->rtfEd->toPlainText().isEmpty());
}

void TyakuFormTest::searchAndFindNext()
{
    Viewer v({mail(QStringLiteral("s"), QStringLiteral("abcabc"))});
    TyakuForm* form = v.open();
    form->Text1->setText(QStringLiteral("bc"));
    const auto selection = [form] {
        const QTextCursor c = form->rtfEd->textCursor();
        return std::pair<int, int>(c.selectionStart(), c.selectionEnd() - c.selectionStart());
    };
    form->mkensaku->trigger();
    QCOMPARE(selection(), (std::pair<int, int>(1, 2)));
    form->mtugikensaku->trigger();
    QCOMPARE(selection(), (std::pair<int, int>(4, 2)));
    form->mtugikensaku->trigger(); // nothing more: said, and no old match stays highlighted
    QCOMPARE(selection().second, 0);
    QCOMPARE(form->StatusBar1->currentMessage(), QStringLiteral("「bc」は見つかりませんでした。"));
    form->mtugikensaku->trigger(); // from character 2 again
    QCOMPARE(selection(), (std::pair<int, int>(1, 2)));
    QVERIFY(v.app.ui.messages.isEmpty());
}

void TyakuFormTest::quickSaveAndSaveAs()
{
    Viewer v({mail(QStringLiteral("Hello"), QStringLiteral("first line\r\nsecond line"))});
    TyakuForm* form = v.open();
    // The folder is made when missing.
    QDir(v.app.paths.quickSaveFolder()).removeRecursively();
    v.clickRow(0);
    form->Command2->click();
    const QString saved = v.app.paths.quickSaveFolder() + QStringLiteral("/Hello.txt");
    const QByteArray expected = "Subject:  Hello\r\nFrom:  太郎 <taro@example.jp>\r\n"
                                "Date:  Mon, 7 Dec 2026 10:00:00 +0900\r\n"
                                "Body:  first line\r\nsecond line\r\n";
    QFile written(saved);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), text::encodeCp932(QString::fromUtf8(expected)));
    written.close();
    QCOMPARE(editorText(form->rtfEd), QString::fromUtf8(expected.chopped(2)));

    // The same subject again: No leaves the file and the body alone.
    v.clickRow(0);
    const QString shown = form->rtfEd->toPlainText();
    v.app.ui.answers = {false};
    form->Command2->click();
    QCOMPARE(v.lastMessage(), QStringLiteral("同名のファイルが既に存在します。上書きしますか？ "));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), text::encodeCp932(QString::fromUtf8(expected)));
    written.close();
    QCOMPARE(form->rtfEd->toPlainText(), shown);

    // Save as, cancelled: the header block stays in the body, nothing written.
    v.clickRow(0);
    v.app.ui.files = {std::nullopt};
    tool(form, "Save")->trigger();
    QVERIFY(form->rtfEd->toPlainText().startsWith(QStringLiteral("Subject:  Hello\nFrom:  ")));
    QCOMPARE(QDir(v.app.paths.quickSaveFolder()).entryList(QDir::Files).size(), 1);

    // Save as into a file: the text as it stands, once more with the header
    // lines, in CP932 with CR LF; the caption names the file.
    v.clickRow(0);
    form->Text7->setText(QStringLiteral("件名"));
    const QString other = v.app.root.file(QStringLiteral("other.txt"));
    v.app.ui.files = {other};
    form->msave->trigger();
    QCOMPARE(form->windowTitle(), other);
    const QByteArray bytes = v.app.root.read(QStringLiteral("other.txt"));
    QVERIFY(bytes.startsWith("Subject:  \x8C\x8F\x96\xBC\r\nFrom:  "));
    QVERIFY(bytes.endsWith("second line\r\n"));
}

void TyakuFormTest::copyFieldAndExplanations()
{
    Viewer v({mail(QStringLiteral("件名"))}, "NUMBER=1\r\n");
    TyakuForm* form = v.open();
    QCOMPARE(form->Text4->y(), ui::twips(3600));
    moveOver(form->Text8);
    QCOMPARE(form->Text6->text(), QStringLiteral("太郎 <taro@example.jp>"));
    QCOMPARE(form->Command1->palette().color(QPalette::Button), QColor(0, 0, 255));
    moveOver(form->Text7);
    QCOMPARE(form->Command1->palette().color(QPalette::Button), QColor(255, 255, 0));
    form->Command1->click();
    QCOMPARE(v.app.ui.clipboard, QStringLiteral("件名"));
    moveOver(form->rtfEd->viewport());
    QCOMPARE(form->Command1->palette().color(QPalette::Button), QColor(128, 128, 128));
    QCOMPARE(form->Text6->text(), QStringLiteral("件名")); // kept

    moveOver(form->Command6);
    QVERIFY(form->Text4->isVisible());
    QCOMPARE(form->Text4->toPlainText(), QStringLiteral("受信したメール全件削除します。"));
    moveOver(form->MailListView->viewport());
    QVERIFY(!form->Text4->isVisible());
    QVERIFY(form->Text4->toPlainText().isEmpty());
    moveOver(form->Command1);
    QVERIFY(form->Text4->toPlainText().contains(QStringLiteral("\n\n 本文への貼り付け")));
    moveOver(form->rtfEd->viewport());
    QVERIFY(!form->Text4->isVisible());

    // With the option off the box sits out of sight.
    Viewer off({mail(QStringLiteral("a"))}, "NUMBER=0\r\n");
    TyakuForm* hidden = off.open();
    QCOMPARE(hidden->Text4->y(), ui::twips(-4000));
}

void TyakuFormTest::layoutFollowsTheWindow()
{
    Viewer v({mail(QStringLiteral("a"))});
    TyakuForm* form = v.open();
    // The outer size, frame included, is 10000 x 8000.
    const QSize frame = form->frameGeometry().size() - form->size();
    form->resize(ui::twips(10000) - frame.width(), ui::twips(8000) - frame.height());
    QCoreApplication::processEvents();
    const auto near = [](int pixels, int twips) {
        return std::abs(pixels - ui::twips(twips)) <= 1;
    };
    QVERIFY(near(form->MailListView->width(), 9900));
    QVERIFY(near(form->MailListView->height(), 2000));
    QVERIFY(near(form->Text7->y(), 2940));
    QVERIFY(near(form->Text7->width(), 5000));
    QVERIFY(near(form->Text8->width(), 3000));
    QVERIFY(near(form->Text9->width(), 2000));
    QVERIFY(near(form->Text8->x(), 5005));
    QVERIFY(near(form->rtfEd->y(), 3300));
    QVERIFY(near(form->rtfEd->height(), 3720));
    QVERIFY(near(form->Picture1->width(), 10000));
    // The copy button and field sit on the status bar.
    QCOMPARE(form->Command1->y(), form->StatusBar1->y() + ui::twips(80));
    QVERIFY(form->StatusBar1->geometry().bottom() == form->rtfEd->parentWidget()->height() - 1);

    form->showMaximized();
    QTRY_VERIFY(form->isMaximized());
    QCoreApplication::processEvents();
    const int h = ui::pixelsToTwips(form->frameGeometry().height());
    QVERIFY(near(form->Command1->y(), h - 980));
    QVERIFY(near(form->Text6->y(), h - 1000));
}

void TyakuFormTest::styleTogglesAreSharedWithTheComposeWindow()
{
    Viewer v({mail(QStringLiteral("a"))});
    TyakuForm* form = v.open();
    // The compose window's editor: its own body, the same shared state.
    QTextEdit composeBody;
    QWidget composeWindow;
    EditorCommands compose(&composeBody, &composeWindow, v.app.ui, v.app.context->editor);
    compose.toggle(TextStyle::Bold);
    QVERIFY(composeBody.font().bold());
    tool(form, "Bold")->trigger();
    QVERIFY(!form->rtfEd->font().bold()); // the second press turns it off
    tool(form, "Italic")->trigger();
    QVERIFY(form->rtfEd->font().italic());
    compose.toggle(TextStyle::Italic);
    QVERIFY(!composeBody.font().italic());
    tool(form, "Underline")->trigger();
    QVERIFY(form->rtfEd->font().underline());
    // Undo is the compose window's; it takes back the last typing.
    composeBody.setPlainText(QStringLiteral("a"));
    composeBody.textCursor().insertText(QStringLiteral("b"));
    compose.undo();
    QCOMPARE(composeBody.toPlainText(), QStringLiteral("a"));
    QVERIFY(!tool(form, "Undo")); // the viewer has no undo button
}

void TyakuFormTest::editorCommands()
{
    Viewer v({mail(QStringLiteral("a"), QStringLiteral("本文"))});
    TyakuForm* form = v.open();
    // Open: every line ends with CR LF; the current document is unchanged.
    v.app.root.write(QStringLiteral("abc.txt"), "a\r\nb\r\nc");
    v.app.ui.files = {v.app.root.file(QStringLiteral("abc.txt"))};
    form->mopen->trigger();
    QCOMPARE(editorText(form->rtfEd), QStringLiteral("a\r\nb\r\nc\r\n"));
    QVERIFY(v.app.context->editor.CurrentFilePath.isEmpty());
    // UTF-8 files read too, with or without the mark.
    v.app.root.write(QStringLiteral("utf8.txt"), QStringLiteral("晴れ😀").toUtf8());
    v.app.ui.files = {v.app.root.file(QStringLiteral("utf8.txt"))};
    tool(form, "Open")->trigger();
    QCOMPARE(editorText(form->rtfEd), QStringLiteral("晴れ😀\r\n"));

    // Copy with nothing selected: an empty clipboard and the caret at the start.
    form->mbunmatujump->trigger();
    form->mcopy->trigger();
    QCOMPARE(v.app.ui.clipboard, QString());
    QCOMPARE(form->rtfEd->textCursor().position(), 0);
    // Paste takes the clipboard trimmed of blanks.
    v.app.ui.clipboard = QStringLiteral("  abc  ");
    form->mpaste->trigger();
    QVERIFY(form->rtfEd->toPlainText().startsWith(QStringLiteral("abc晴れ")));
    // Select all and cut.
    form->mall->trigger();
    tool(form, "Cut")->trigger();
    QCOMPARE(v.app.ui.clipboard, QStringLiteral("abc晴れ😀\n"));
    QVERIFY(form->rtfEd->toPlainText().isEmpty());

    // New document: "新規作成.TXT" in the working folder, written empty, once.
    form->rtfEd->setPlainText(QStringLiteral("x"));
    tool(form, "New")->trigger();
    const QString made = v.app.workFolder() + QStringLiteral("/新規作成.TXT");
    QVERIFY(QFile::exists(made));
    QCOMPARE(QFileInfo(made).size(), 0);
    QVERIFY(form->rtfEd->toPlainText().isEmpty());
    QCOMPARE(form->windowTitle(), QStringLiteral("新規作成.TXT      新規作成.TXT"));
    QVERIFY(!v.app.context->editor.EditorModified);
    form->rtfEd->setPlainText(QStringLiteral("y"));
    form->mnew->trigger(); // a second one changes nothing
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("y"));
    QCOMPARE(QFileInfo(made).size(), 0);
}

void TyakuFormTest::printsCopiesToAPdfFile()
{
    Viewer v({mail(QStringLiteral("a"), QStringLiteral("印刷する本文"))});
    TyakuForm* form = v.open();
    const auto pages = [&v](const QString& name) {
        const QByteArray pdf = v.app.root.read(name);
        return pdf.count("/Type /Page\n") + pdf.count("/Type /Page\r") + pdf.count("/Type /Page ") +
               pdf.count("/Type /Page>");
    };
    v.app.ui.printFile = v.app.root.file(QStringLiteral("one.pdf"));
    form->mprint->trigger();
    const auto single = pages(QStringLiteral("one.pdf"));
    QVERIFY(single >= 1);
    QVERIFY(!v.app.ui.printSelectionOffered);

    v.app.ui.printFile = v.app.root.file(QStringLiteral("three.pdf"));
    v.app.ui.printCopies = 3;
    form->mall->trigger();
    tool(form, "Print")->trigger();
    QVERIFY(v.app.ui.printSelectionOffered);
    QCOMPARE(pages(QStringLiteral("three.pdf")), 3 * single);

    // A cancelled dialog prints nothing and says nothing.
    v.app.ui.printFile.clear();
    form->mprint->trigger();
    QVERIFY(v.app.ui.messages.isEmpty());
}

void TyakuFormTest::loadStepReadsTheCurrentDocument()
{
    { // no document yet: nothing is tried, no box
        Viewer v;
        QVERIFY(v.open());
        QVERIFY(v.app.ui.messages.isEmpty());
    }
    { // a document that cannot be read: one box per try, OK tries a few times only
        Viewer v;
        QVERIFY(v.app.start());
        v.app.context->editor.CurrentFilePath =
            v.app.root.file(QStringLiteral("gone/新規作成.TXT"));
        v.app.ui.answers = {true, true, true, true, true};
        v.app.windows->window<TyakuForm>();
        QCOMPARE(v.app.ui.messages.size(), 3);
        QCOMPARE(v.app.ui.messages[0].title, QStringLiteral("ルモラ  Form_LoadError"));
        QCOMPARE(v.app.ui.messages[0].icon, MessageIcon::Warning);
    }
    { // Cancel goes on at once; a readable document is loaded
        Viewer v;
        QVERIFY(v.app.start());
        v.app.context->editor.CurrentFilePath = v.app.root.file(QStringLiteral("gone.txt"));
        v.app.ui.answers = {false};
        TyakuForm* form = v.app.windows->window<TyakuForm>();
        QCOMPARE(v.app.ui.messages.size(), 1);
        form->close();
        AppFixture::settle();
        v.app.root.write(QStringLiteral("doc.txt"), "\x96\x7B\x95\xB6"); // 本文 in CP932
        v.app.context->editor.CurrentFilePath = v.app.root.file(QStringLiteral("doc.txt"));
        v.app.context->editor.EditorModified = true;
        form = v.app.windows->window<TyakuForm>();
        QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("本文"));
        QVERIFY(!v.app.context->editor.EditorModified);
        QCOMPARE(v.app.ui.messages.size(), 1);
    }
}

void TyakuFormTest::receiveFillsTheOpenViewerAndTheCounts()
{
    Viewer v({mail(QStringLiteral("古い一")), mail(QStringLiteral("古い二"))});
    ScriptedMailbox box;
    v.app.library = &box;
    box.mails = {{QStringLiteral("新しい一"),
                  QStringLiteral("花子 <hanako@example.jp>"),
                  QStringLiteral("Tue, 8 Dec 2026 09:00:00 +0900"),
                  QStringLiteral("一通目"),
                  {}},
                 {QStringLiteral("新しい二"),
                  QStringLiteral("花子 <hanako@example.jp>"),
                  QStringLiteral("Tue, 8 Dec 2026 09:01:00 +0900"),
                  QStringLiteral("二通目"),
                  {}}};
    // The viewer closed: no window is made for fields nobody sees; the count
    // is the file's.
    {
        QVERIFY(v.app.start());
        QTest::mouseClick(v.app.mainForm->Picture4, Qt::LeftButton);
        v.settle();
        QCOMPARE(v.app.mainForm->Text4->text(), QStringLiteral("4"));
        QVERIFY(!v.form());
        QCOMPARE(v.app.context->recordBuffer.get().subject().trimmed(), QStringLiteral("新しい二"));
    }
    // The viewer open, row 2 selected: the fields show the newest mail, the
    // new rows join the list and the selection stays.
    TyakuForm* form = v.open();
    QCOMPARE(form->Text2->text(), QStringLiteral("4"));
    v.clickRow(1);
    box.mails.append({QStringLiteral("三通目の件名"),
                      QStringLiteral("次郎 <jiro@example.jp>"),
                      QStringLiteral("Tue, 8 Dec 2026 10:00:00 +0900"),
                      QStringLiteral("三"),
                      {}});
    box.mails.removeFirst();
    box.mails.removeFirst();
    QTest::mouseClick(v.app.mainForm->Picture4, Qt::LeftButton);
    v.settle();
    QCOMPARE(form->Text7->text(), QStringLiteral("三通目の件名"));
    QCOMPARE(form->MailListView->model()->rowCount(), 5);
    QCOMPARE(form->MailListView->selectionModel()->selectedRows().first().row(), 1);
    QCOMPARE(form->Text2->text(), QStringLiteral("5"));
    QCOMPARE(v.app.mainForm->Text4->text(), QStringLiteral("5"));

    // With the auto-show option a receive opens the viewer with the full list.
    form->close();
    AppFixture::settle();
    v.app.mainForm->Check2->setChecked(true);
    box.mails = {{QStringLiteral("自動"),
                  QStringLiteral("x"),
                  QStringLiteral("d"),
                  QStringLiteral("b"),
                  {}}};
    QTest::mouseClick(v.app.mainForm->Picture4, Qt::LeftButton);
    v.settle();
    QVERIFY(v.form() && v.form()->isVisible());
    QCOMPARE(v.form()->Text2->text(), QStringLiteral("6"));
}

// The interval check starts a receive while the deletion's question is
// open; Yes is answered while the receive runs. The deletion waits for the
// mail in hand, the receive goes on in the compacted file: every mail the
// server had is stored once, each with its own original, and the mail the
// user deleted is gone.
void TyakuFormTest::deletionAndReceiveNeverOverlap()
{
    Viewer v({mail(QStringLiteral("古い一")), mail(QStringLiteral("古い二"))});
    ScriptedMailbox box;
    v.app.library = &box;
    for (int i = 1; i <= 3; ++i) {
        box.mails.append({QStringLiteral("新%1").arg(i), QStringLiteral("x"), QStringLiteral("d"),
                          QStringLiteral("body %1").arg(i), QStringLiteral("uid%1").arg(i)});
    }
    QSemaphore atSecond;
    QSemaphore goOn;
    box.onGetMail = [&](int n) {
        if (n == 2) {
            atSecond.release();
            goOn.acquire();
        }
    };
    TyakuForm* form = v.open();
    v.app.windows->window<SetForm>()->Text2->setText(QStringLiteral("1"));
    v.clickRow(0);
    v.app.ui.answers = {true};
    v.app.ui.onQuestion = [&](const QString&) {
        // The minute is up while the box is open: the tick starts a receive.
        v.app.mainForm->Text1->setPlainText(QStringLiteral("1"));
        v.app.clock.advance(40);
        QVERIFY(v.app.mainForm->receiving());
        QVERIFY(atSecond.tryAcquire(1, 5000)); // mail 1 fetched, mail 2 on its way
    };
    form->Command3->click();
    v.app.ui.onQuestion = {};
    // The deletion runs now, between the receive's mails.
    for (int i = 0; i < 5000 && form->rewriting(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    QVERIFY(!form->rewriting());
    goOn.release();
    v.settle();
    QVERIFY(!v.app.mainForm->receiving());
    QCOMPARE(subjectsIn(v.received()), (QStringList{QStringLiteral("古い二"), QStringLiteral("新1"),
                                                    QStringLiteral("新2"), QStringLiteral("新3")}));
    QCOMPARE(box.deleted(), (QList<int>{1, 2, 3}));
    const Originals originals(v.app.paths.originalsFolder());
    const QList<MailRecord> records = recordsIn(v.received());
    for (int n = 2; n <= 4; ++n) {
        const std::optional<QByteArray> original = originals.read(n, records[n - 1].bytes());
        QVERIFY(original);
        QVERIFY(original->endsWith("body " + QByteArray::number(n - 1)));
    }
    QVERIFY(!originals.interrupted());
    QVERIFY(v.app.ui.unscripted.isEmpty());
}

// The same race from outside: the real Dovecot behind a slow line, the
// interval check firing while the deletion's question is open, Yes answered
// while mails are coming in. Every mail the server had is stored once (or
// still on the server) with its own original.
void TyakuFormTest::aDeletionDuringASlowReceiveLosesNoMail()
{
    MailServers servers;
    QVERIFY(servers.started());
    constexpr int kMails = 12;
    for (int i = 0; i < kMails; ++i) {
        servers.deliver(QStringLiteral("taro"),
                        "From: sender@example.jp\r\nSubject: slow-" + QByteArray::number(i) +
                            "\r\n\r\n" +
                            (QByteArray(76, static_cast<char>('a' + i)) + "\r\n").repeated(1300));
    }
    QProcess proxy;
    const QString port = QString::number(8000 + QRandomGenerator::global()->bounded(20000));
    proxy.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(LUMORA_DELAY_PROXY), port,
                 servers.value(QStringLiteral("LUMORA_POP3_PORT")), QStringLiteral("5"),
                 QStringLiteral("600")});
    QVERIFY(proxy.waitForReadyRead(10'000));
    QCOMPARE(proxy.readLine().trimmed(), QByteArray("ready"));

    MailLibraryOptions options;
    options.caFile = servers.caFile();
    const auto library = createMailLibrary(options);
    Viewer v({mail(QStringLiteral("古い一")), mail(QStringLiteral("古い二"))});
    v.app.library = library.get();
    v.app.writeServerFile("SMTP=127.0.0.1\r\nPOP3=127.0.0.1:" + port.toUtf8() +
                          "\r\nMAIL=taro@example.jp\r\nAPOP=0\r\n");
    v.app.writeData(QStringLiteral("iniIdPass.ini"), "[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\n");
    TyakuForm* form = v.open();
    v.app.windows->window<SetForm>()->Text2->setText(QStringLiteral("1"));
    v.clickRow(0);
    bool receivingAtYes = false;
    v.app.ui.answers = {true};
    v.app.ui.onQuestion = [&](const QString&) {
        v.app.mainForm->Text1->setPlainText(QStringLiteral("1"));
        v.app.clock.advance(40);
        // Until the first new mail is on disk, while the rest comes in.
        for (int i = 0; i < 20'000 && subjectsIn(v.received()).size() < 3; ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        receivingAtYes = v.app.mainForm->receiving();
    };
    form->Command3->click();
    v.app.ui.onQuestion = {};
    v.settle();
    for (int i = 0; i < 30'000 && v.app.mainForm->receiving(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    QVERIFY(receivingAtYes);
    QVERIFY2(v.app.ui.messages.size() == 1, qPrintable(v.lastMessage())); // the question only
    const QStringList stored = subjectsIn(v.received());
    QVERIFY(!stored.contains(QStringLiteral("古い一")));
    QCOMPARE(stored.count(QStringLiteral("古い二")), 1);
    const int waiting = servers.waiting(QStringLiteral("taro"));
    for (int i = 0; i < kMails; ++i) {
        const int times = static_cast<int>(stored.count(QStringLiteral("slow-%1").arg(i)));
        QVERIFY2(times == 1 || (times == 0 && waiting > 0), qPrintable(QString::number(i)));
    }
    QCOMPARE(stored.size() - 1 + waiting, kMails);
    const Originals originals(v.app.paths.originalsFolder());
    const QList<MailRecord> records = recordsIn(v.received());
    for (int n = 2; n <= records.size(); ++n) {
        const std::optional<QByteArray> original = originals.read(n, records[n - 1].bytes());
        QVERIFY(original);
        QVERIFY(original->contains("Subject: " + records[n - 1].subject().trimmed().toLatin1()));
    }
    QCOMPARE(originals.names().size(), records.size() - 1);
    proxy.kill();
    proxy.waitForFinished();
}

void TyakuFormTest::receiveThroughTheRealServersIntoTheViewer()
{
    MailServers servers;
    QVERIFY(servers.started());
    servers.deliver(QStringLiteral("taro"),
                    "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= <yamada@example.jp>\r\n"
                    "Subject: =?ISO-2022-JP?B?GyRCMnE1RDBGRmIbKEI=?=\r\n"
                    "Date: Tue, 8 Dec 2026 09:00:00 +0900\r\n"
                    "MIME-Version: 1.0\r\n"
                    "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
                    "\x1B$B$*@$OC$K$J$C$F$*$j$^$9!#\x1B(B\r\n");
    MailLibraryOptions options;
    options.caFile = servers.caFile();
    const auto library = createMailLibrary(options);
    Viewer v({mail(QStringLiteral("前からの一通"))});
    v.app.library = library.get();
    v.app.writeServerFile("SMTP=127.0.0.1\r\nPOP3=" + servers.pop3().toUtf8() +
                          "\r\nMAIL=taro@example.jp\r\nAPOP=0\r\n");
    v.app.writeData(QStringLiteral("iniIdPass.ini"), "[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\n");
    TyakuForm* form = v.open();
    QCOMPARE(form->Text2->text(), QStringLiteral("1"));
    QTest::mouseClick(v.app.mainForm->Picture4, Qt::LeftButton);
    v.settle();
    QVERIFY2(v.app.ui.messages.isEmpty(), qPrintable(v.lastMessage()));
    QCOMPARE(v.app.mainForm->Text6->text(), QStringLiteral("1"));
    QCOMPARE(form->Text7->text(), QStringLiteral("会議案内"));
    QCOMPARE(form->Text8->text(), QStringLiteral("山田 太郎 <yamada@example.jp>"));
    QCOMPARE(form->rtfEd->toPlainText().trimmed(), QStringLiteral("お世話になっております。"));
    QCOMPARE(form->MailListView->model()->rowCount(), 2);
    QCOMPARE(v.app.mainForm->Text4->text(), QStringLiteral("2"));
    QCOMPARE(servers.waiting(QStringLiteral("taro")), 0);
    v.clickRow(1);
    QCOMPARE(form->Text7->text(), QStringLiteral("会議案内"));
}

void TyakuFormTest::accessibleNamesAndDescriptions()
{
    Viewer v({mail(QStringLiteral("a"))});
    TyakuForm* form = v.open();
    QCOMPARE(form->Command3->accessibleName(), QStringLiteral("一件削除"));
    QCOMPARE(form->Command1->accessibleName(), QStringLiteral("コピー（Subject/from/Data）"));
    QCOMPARE(form->MailListView->accessibleName(), QStringLiteral("メール一覧"));
    QCOMPARE(form->Text8->accessibleName(), QStringLiteral("差出人"));
    QCOMPARE(form->rtfEd->accessibleName(), QStringLiteral("本文"));
    QCOMPARE(form->Text6->accessibleName(), QStringLiteral("コピー欄"));
    QCOMPARE(form->Command6->accessibleDescription(),
             QStringLiteral("受信したメール全件削除します。"));
    QWidget* bold = form->tbToolBar->widgetForAction(tool(form, "Bold"));
    QCOMPARE(bold->accessibleName(), QStringLiteral("太字"));
    QCOMPARE(bold->toolTip(), QStringLiteral("太字"));
    QCOMPARE(tool(form, "Copy")->toolTip(), QStringLiteral("ｺﾋﾟｰ"));
    QVERIFY(!tool(form, "New")->icon().isNull());

    MainForm* main = v.app.mainForm.get();
    QCOMPARE(main->Picture3->accessibleName(), QStringLiteral("新規作成"));
    QCOMPARE(main->Picture5->accessibleName(), QStringLiteral("メールを見る"));
    QCOMPARE(main->Picture13->accessibleName(), QStringLiteral("ホームページ"));
    QCOMPARE(main->Text4->accessibleName(), QStringLiteral("累積数"));
    QCOMPARE(main->Check1->accessibleName(), QStringLiteral("説明表示"));
    QCOMPARE(main->Picture4->accessibleDescription(),
             QStringLiteral("新着メールの受信を行います。"));

    FriendForm* book = v.app.windows->show<FriendForm>();
    QCOMPARE(book->Text4->accessibleName(), QStringLiteral("メールアドレス"));
    QCOMPARE(book->Command3->accessibleName(), QStringLiteral("登録"));
    QCOMPARE(book->Command4->accessibleDescription(),
             QStringLiteral("不要になったメールアドレスを削除します。"));

    // The account dialogs: boxes named by their labels.
    IdPassForm* idPass = v.app.windows->window<IdPassForm>();
    QCOMPARE(idPass->PassText->accessibleName(), QStringLiteral("Password"));
    QCOMPARE(idPass->Check1->accessibleName(), QStringLiteral("IDパスワードを保存する"));
    QCOMPARE(v.app.windows->window<SetForm>()->Text2->accessibleName(),
             QStringLiteral("インターバル（分）"));

    // Every control of every window built so far has a name.
    for (QWidget* window :
         std::initializer_list<QWidget*>{form, main, book, idPass, v.app.windows->window<SetForm>(),
                                         v.app.windows->window<OptionForm>()}) {
        const QStringList unnamed = unnamedControls(window);
        QVERIFY2(unnamed.isEmpty(),
                 qPrintable(window->objectName() + QLatin1String(": ") + unnamed.join(u',')));
    }

    // At shut-down the viewer's list gets its header back before the window goes.
    QVERIFY(ui::hasPaintedHeader(form->MailListView));
    StyleWatch watch;
    form->MailListView->header()->installEventFilter(&watch);
    QSignalSpy gone(form, &QObject::destroyed);
    main->close();
    QCOMPARE(gone.size(), 1);
    QCOMPARE(watch.changes, 1);
}

void TyakuFormTest::rowsAreChosenByKeyboardAndScreenReaderAsByTheMouse()
{
    using namespace lumora::test;
    Viewer v({mail(QStringLiteral("一"), QStringLiteral("最初")),
              mail(QStringLiteral("二"), QStringLiteral("二通目")),
              mail(QStringLiteral("三"), QStringLiteral("三通目"))});
    TyakuForm* form = v.open();
    QVERIFY(activate(form));
    QTreeView* list = form->MailListView;

    // The keyboard: a row reached by the arrow keys is shown and chosen, so
    // the next action acts on it.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Home);
    QCOMPARE(form->Text7->text(), QStringLiteral("一"));
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(form->Text7->text(), QStringLiteral("二"));
    QCOMPARE(editorText(form->rtfEd), QStringLiteral("二通目"));
    QCOMPARE(form->Text5->text(), QStringLiteral("1"));
    QSignalSpy replies(form, &TyakuForm::replyRequested);
    form->Command5->click();
    QCOMPARE(replies.size(), 1);
    QVERIFY(replies.first().at(0).toString().contains(QStringLiteral("二")));
    QVERIFY(form->Text5->text().isEmpty()); // the action empties the marker
    // Enter on the same row chooses it again.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(form->Text5->text(), QStringLiteral("1"));

    // A screen reader selects a row through the list's table interface.
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(list);
    QVERIFY(table && table->tableInterface());
    table->tableInterface()->selectRow(2);
    QCOMPARE(form->Text7->text(), QStringLiteral("三"));
    QCOMPARE(editorText(form->rtfEd), QStringLiteral("三通目"));
    form->Command5->click();
    QCOMPARE(replies.size(), 2);
    QVERIFY(replies.last().at(0).toString().contains(QStringLiteral("三")));
    // Its buttons are pressed through the same interface.
    table->tableInterface()->selectRow(0);
    doAccessibleAction(form->Command5, QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(replies.size(), 3); // a press is shown for a moment first
    QVERIFY(replies.last().at(0).toString().contains(QStringLiteral("一")));
    QVERIFY(v.app.ui.messages.isEmpty());

    // Enter on an empty list says so, as a click does.
    Viewer empty;
    TyakuForm* none = empty.open();
    QVERIFY(activate(none));
    none->MailListView->setFocus();
    QTest::keyClick(none->MailListView, Qt::Key_Return);
    QCOMPARE(empty.lastMessage(), QStringLiteral("選択するデータがありません。"));
}

void TyakuFormTest::searchKeysAndTheTabChain()
{
    using namespace lumora::test;
    Viewer v({mail(QStringLiteral("s"), QStringLiteral("abcabc"))});
    TyakuForm* form = v.open();
    QVERIFY(activate(form));
    const auto selected = [form] {
        return form->rtfEd->textCursor().selectedText();
    };

    // Ctrl+F goes to the search box, Enter there searches, F3 finds the next.
    form->MailListView->setFocus();
    QTest::keyClick(form->MailListView, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), form->Text1);
    QTest::keyClicks(form->Text1, QStringLiteral("bc"));
    QTest::keyClick(form->Text1, Qt::Key_Return);
    QCOMPARE(form->rtfEd->textCursor().selectionStart(), 1);
    QCOMPARE(selected(), QStringLiteral("bc"));
    QTest::keyClick(form->rtfEd, Qt::Key_F3);
    QCOMPARE(form->rtfEd->textCursor().selectionStart(), 4);
    // Nothing found: said, and the old match is no longer highlighted.
    form->Text1->setText(QStringLiteral("xyz"));
    form->mkensaku->trigger();
    QVERIFY(selected().isEmpty());
    QCOMPARE(form->StatusBar1->currentMessage(), QStringLiteral("「xyz」は見つかりませんでした。"));

    // Tab goes through what is in view, in reading order, and leaves the
    // body with Ctrl+Tab; the marker and the work controls are nowhere.
    QCOMPARE(tabChain(form->Command2),
             objectNames({"Command2", "Text1", "Command3", "Command4", "Command5", "Command6",
                          "Text2", "SearchText", "MailListView", "Text7", "Text8", "Text9", "rtfEd",
                          "Command1", "Text6"}));
    const QList<QWidget*> reached = accessibleWidgets(form);
    for (QWidget* hidden : std::initializer_list<QWidget*>{form->Text5, form->Text4, form->lstLst,
                                                           form->lstWk, form->rtfWk, form->Text3}) {
        QVERIFY2(!reached.contains(hidden), qPrintable(hidden->objectName()));
    }
    QVERIFY2(designNamedControls(form).isEmpty(), qPrintable(designNamedControls(form).join(u',')));
}

void TyakuFormTest::columnHeadingsSortAndActionsActOnTheShownMail()
{
    const auto dated = [](const char* subject, const char* date) {
        return MailRecord::received(QString::fromUtf8(subject),
                                    QStringLiteral("太郎 <t@example.jp>"), QString::fromUtf8(date),
                                    QStringLiteral("本文"));
    };
    Viewer v({dated("水曜", "Wed, 09 Dec 2026 10:00:00 +0900"), dated("日付なし", ""),
              dated("月曜", "Mon, 07 Dec 2026 10:00:00 +0900"),
              dated("火曜", "Tue, 08 Dec 2026 10:00:00 +0900")});
    TyakuForm* form = v.open();
    QHeaderView* header = form->MailListView->header();
    const auto firstSubject = [form] {
        return form->MailListView->model()->index(0, 0).data().toString().trimmed();
    };
    const auto clickHeading = [header](int section) {
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(section) + 10, header->height() / 2));
    };
    clickHeading(2);
    QTRY_COMPARE(firstSubject(), QStringLiteral("月曜")); // dates as times, undated last
    QVERIFY(header->isSortIndicatorShown());
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    QCOMPARE(form->MailListView->model()->index(3, 0).data().toString().trimmed(),
             QStringLiteral("日付なし"));
    clickHeading(2);
    QTRY_COMPARE(firstSubject(), QStringLiteral("水曜"));

    // Row 2 of the sorted list is 月曜 (record 3): deleting it deletes that
    // mail and no other, and the list stays sorted.
    v.clickRow(2);
    QCOMPARE(form->Text7->text(), QStringLiteral("月曜"));
    const auto listed = [form] {
        QStringList subjects;
        const QAbstractItemModel* model = form->MailListView->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            subjects.append(model->index(row, 0).data().toString().trimmed());
        }
        return subjects;
    };
    // Every list shown after the deletion is sorted: the record order (where
    // 水曜 leads too) never shows while the sort runs again.
    QList<QStringList> shown;
    const QMetaObject::Connection watch =
        connect(form->MailListView->model(), &QAbstractItemModel::modelReset, this,
                [&] { shown.append(listed()); });
    v.app.ui.answers = {true};
    form->Command3->click();
    v.settle();
    QCOMPARE(
        subjectsIn(v.received()),
        QStringList({QStringLiteral("水曜"), QStringLiteral("日付なし"), QStringLiteral("火曜")}));
    const QStringList sorted = {QStringLiteral("水曜"), QStringLiteral("火曜"),
                                QStringLiteral("日付なし")};
    QTRY_COMPARE(listed(), sorted);
    disconnect(watch);
    // As after any deletion, the newest mail is shown, wherever the order
    // lists it.
    QCOMPARE(form->Text7->text(), QStringLiteral("火曜"));
    QVERIFY(!shown.isEmpty());
    for (const QStringList& list : std::as_const(shown)) {
        QCOMPARE(list, sorted);
    }

    // The third click, or the menu, brings back the record order.
    clickHeading(2);
    QTRY_COMPARE(form->MailListView->model()->index(1, 0).data().toString().trimmed(),
                 QStringLiteral("日付なし"));
    QVERIFY(!header->isSortIndicatorShown());
    form->msortsubject->trigger();
    QTRY_VERIFY(header->isSortIndicatorShown());
    form->mrecordorder->trigger();
    QVERIFY(!header->isSortIndicatorShown());
}

void TyakuFormTest::searchAcrossEveryMailFiltersTheListAsYouType()
{
    Viewer v({mail(QStringLiteral("定例会議の議事録"), QStringLiteral("次回は月曜")),
              mail(QStringLiteral("見積のお願い"), QStringLiteral("ｶﾞｲﾄﾞを添付します")),
              mail(QStringLiteral("忘年会"), QStringLiteral("会議室で")),
              mail(QStringLiteral("お知らせ"), QStringLiteral("なし"))});
    TyakuForm* form = v.open();
    QAbstractItemModel* rows = form->MailListView->model();
    const auto subjects = [rows] {
        QStringList out;
        for (int r = 0; r < rows->rowCount(); ++r) {
            out << rows->index(r, 0).data().toString().trimmed();
        }
        return out;
    };
    // The index is made when the viewer opens; typing narrows the list.
    form->SearchText->setText(QStringLiteral("会議"));
    QTRY_COMPARE(subjects(),
                 QStringList({QStringLiteral("定例会議の議事録"), QStringLiteral("忘年会")}));
    QCOMPARE(form->StatusBar1->currentMessage(), QStringLiteral("2 通が一致"));
    QCOMPARE(form->StatusBar1->accessibleDescription(),
             QStringLiteral("「会議」に一致するメール 2 通"));
    QCOMPARE(form->Text2->text(), QStringLiteral("4")); // the count of stored mail stays
    form->SearchText->setText(QStringLiteral("ガイド"));
    QTRY_COMPARE(subjects(), QStringList({QStringLiteral("見積のお願い")}));
    // Choosing a match acts on that mail, as any row does.
    v.clickRow(0);
    QCOMPARE(form->Text7->text(), QStringLiteral("見積のお願い"));
    form->SearchText->setText(QStringLiteral("存在しない言葉"));
    QTRY_COMPARE(rows->rowCount(), 0);
    QVERIFY(form->StatusBar1->accessibleDescription().contains(QStringLiteral("ありません")));
    // Escape: every mail again, the shown one still shown and highlighted.
    QTest::keyClick(form->SearchText, Qt::Key_Escape);
    QCOMPARE(rows->rowCount(), 4);
    QCOMPARE(form->Text7->text(), QStringLiteral("見積のお願い"));
    QCOMPARE(form->MailListView->currentIndex().row(), 1);
    QVERIFY(QFile::exists(v.app.dataFile(QStringLiteral("search-index.sqlite"))));
}

QTEST_MAIN(TyakuFormTest)
#include "tyaku_form_test.moc"
