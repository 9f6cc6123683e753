#include "compose/write_form.h"
#include "mail/mail_library.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "support/accessible_names.h"
#include "support/app_fixture.h"
#include "support/keyboard_walk.h"
#include "support/mail_servers.h"
#include "support/sending_mail_library.h"
#include "ui/geometry.h"
#include "ui/picture_button.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTextEdit>
#include <QToolBar>

#include <thread>

using namespace lumora;
using lumora::test::AppFixture;
using lumora::test::MailServers;
using lumora::test::SendingMailLibrary;

namespace {

QByteArray addressRecords(const QList<std::pair<QString, QString>>& entries)
{
    QByteArray bytes;
    for (const auto& [name, address] : entries) {
        bytes += AddressRecord::entry(name, address).bytes();
    }
    return bytes;
}

void moveOver(QWidget* widget)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), widget->mapToGlobal(QPointF(3, 3)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

void focusEvent(QWidget* widget, QEvent::Type type, Qt::FocusReason reason = Qt::TabFocusReason)
{
    QFocusEvent event(type, reason);
    QCoreApplication::sendEvent(widget, &event);
}

// A program with a complete account and an address book, whose mail library
// records every send.
struct Compose {
    explicit Compose(const QByteArray& book = {}, const QByteArray& ini = {})
    {
        app.writeCompleteAccount();
        app.library = &mail;
        if (!book.isEmpty()) {
            app.writeData(QStringLiteral("krddata20.data"), book);
        }
        if (!ini.isEmpty()) {
            app.writeData(QStringLiteral("ini.ini"), "[EXEINI]\r\n" + ini);
        }
    }
    WriteForm* open()
    {
        if (!app.mainForm && !app.start()) {
            return nullptr;
        }
        QTest::mouseClick(app.mainForm->Picture3, Qt::LeftButton);
        return app.windows->existing<WriteForm>();
    }
    void clickRow(WriteForm* form, int row)
    {
        QListWidgetItem* item = form->List1->item(row);
        QTest::mouseClick(form->List1->viewport(), Qt::LeftButton, {},
                          form->List1->visualItemRect(item).center());
    }
    // Lets a send or a held-mail deletion end and report to the window.
    static void settle(QPointer<WriteForm> form)
    {
        for (int i = 0; i < 20000 && form && form->busy(); ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        QCoreApplication::processEvents();
        AppFixture::settle();
    }
    QString lastMessage() const
    {
        return app.ui.messages.isEmpty() ? QString() : app.ui.messages.last().text;
    }

    SendingMailLibrary mail;
    AppFixture app;
};

QString fieldText(const QByteArray& record, FieldSpan span)
{
    return text::trimSpaces(
        text::decodeCp932(QByteArrayView(record).sliced(span.offset, span.width)));
}

} // namespace

class WriteFormTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void opensWithItsLoadStepsAndKeepsNothingWhenClosed();
    void attachmentButtonsFollowTheirRules();
    void heldMailIsHeldRecalledAndDeleted();
    void holdingAsksBeforeLosingText();
    void theGreetingGoesAtTheStartOfTheBody();
    void pastesAddressPaneAndHiddenMode();
    void aSentMailEmptiesAndClosesAFailedOneStays();
    void bulkSendMailsEveryEntryAndReportsOnce();
    void endingTheProgramDuringASendAsksFirst();
    void unsentTextIsNeverThrownAwayUnasked();
    void afterAFailedSendMoreFilesJoinTheList();
    void aSendOrHoldWhileTheLastIsFinishingSaysWhy();
    void aMailtoLinkFillsTheWindowAndIsNeverSent();
    void helpTextsFollowTheMouse();
    void everyControlHasAName();
    void sendsThroughTheRealServer();
    void theKeyboardAndAScreenReaderDoWhatTheMouseDoes();
};

void WriteFormTest::opensWithItsLoadStepsAndKeepsNothingWhenClosed()
{
    Compose c(addressRecords({{QStringLiteral("山田 太郎"), QStringLiteral("taro@example.jp")},
                              {QStringLiteral("佐藤 花子"), QStringLiteral("hanako@example.jp")}}),
              "NUMBER=1\r\n");
    c.app.context.reset(); // started by open()
    QPointer<WriteForm> form = c.open();
    QVERIFY(form);
    QVERIFY(form->isVisible());
    QCOMPARE(form->windowTitle(), QStringLiteral("新規作成"));
    QCOMPARE(c.app.context->listMode, 0);
    QCOMPARE(form->List1->count(), 2);
    QCOMPARE(form->List1->item(1)->text(), QStringLiteral("佐藤 花子") + QString(81, u' '));
    QCOMPARE(form->recordIndex(), (QList<qint16>{1, 2}));
    QCOMPARE(form->Text1->text(), QStringLiteral("2"));
    QCOMPARE(form->Combo1->count(), 8);
    QCOMPARE(form->Combo1->itemText(3), QStringLiteral("いつもお世話になっております。"));
    QVERIFY(form->Combo1->currentText().isEmpty());
    QVERIFY(!form->Picture7->isVisibleTo(form));
    QVERIFY(!form->List2->isVisibleTo(form));
    QCOMPARE(form->Text14->y(), ui::twips(3600)); // the main window shows explanations
    QCOMPARE(form->width(), ui::twips(WriteForm::kSmallWidth));
    QCOMPARE(form->rtfEd->font().family(),
             ui::fontFamily(QStringLiteral("ＭＳ ゴシック")).family());
    // The address pane is outside the small window; the hidden row is below it.
    QVERIFY(form->List1->geometry().left() >= form->width() - 2);
    QVERIFY(form->Command2->mapTo(form, QPoint(0, 0)).y() >= form->height());
    // The menus and toolbar keys.
    QStringList items;
    for (QAction* a : form->mFile->actions() + form->medit->actions()) {
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    }
    QCOMPARE(items.join(u'|'), QStringLiteral("新規作成|開く|印刷|-|終了|全て選択|文頭へジャンプ|"
                                              "文末へジャンプ|-|切り取り|コピー|貼り付け"));
    QStringList keys;
    for (QAction* a : form->tbToolBar->actions()) {
        keys << a->objectName();
    }
    QCOMPARE(keys.join(u','), QStringLiteral("New,Open,Save,SaveAs,Print,Cut,Undo,Copy,Paste,Bold,"
                                             "Italic,Underline"));
    // Save does nothing here; Undo undoes.
    form->rtfEd->setPlainText(QStringLiteral("本文"));
    form->rtfEd->textCursor().insertText(QStringLiteral("追加"));
    form->tbToolBar->actions()[2]->trigger();
    form->tbToolBar->actions()[3]->trigger();
    QVERIFY(c.app.ui.unscripted.isEmpty());
    form->tbToolBar->actions()[6]->trigger();
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("本文"));

    // "終了" closes, asking first when something was typed (No keeps the
    // window and the text, and is what Enter answers); the next window
    // starts from its defaults.
    form->SubjectText->setText(QStringLiteral("件名"));
    form->Command4->click();
    c.app.ui.answers = {false};
    form->mend->trigger();
    AppFixture::settle();
    QVERIFY(form);
    QCOMPARE(c.app.ui.messages.last().title, QStringLiteral("確認"));
    QCOMPARE(c.app.ui.messages.last().byDefault, DefaultAnswer::No);
    QCOMPARE(form->SubjectText->text(), QStringLiteral("件名"));
    c.app.ui.answers = {true};
    form->mend->trigger();
    AppFixture::settle();
    QVERIFY(!form);
    // With the explanations off in the main window the help pane is out of sight.
    c.app.mainForm->Check1->setChecked(false);
    form = c.open();
    QVERIFY(form->SubjectText->text().isEmpty());
    QCOMPARE(form->width(), ui::twips(WriteForm::kSmallWidth));
    QCOMPARE(form->Text14->y(), ui::twips(-4000));
    // "    送信中止" closes without sending.
    form->Command3->click();
    AppFixture::settle();
    QVERIFY(!form);
    QVERIFY(c.mail.sends.isEmpty());
}

void WriteFormTest::attachmentButtonsFollowTheirRules()
{
    Compose c;
    WriteForm* form = c.open();
    const QString dir = c.app.root.path();
    for (const char* name : {"a.txt", "b.txt", "c,d.txt"}) {
        c.app.root.write(QString::fromLatin1(name), "x");
    }
    // "追加" with nothing attached only shows the empty list.
    form->Command9->click();
    QVERIFY(form->List2->isVisibleTo(form));
    QVERIFY(c.app.ui.unscripted.isEmpty());
    QCOMPARE(form->List2->count(), 0);

    // A cancelled first dialog attaches nothing but still disables the button.
    c.app.ui.files = {std::nullopt};
    form->AttachCommand->click();
    QVERIFY(!form->AttachCommand->isEnabled());
    QVERIFY(form->AttachText->text().isEmpty());
    form->Command10->click();
    QVERIFY(form->AttachCommand->isEnabled());
    QVERIFY(!form->Command9->isEnabled() && !form->Command10->isEnabled());

    c.app.ui.files = {dir + QStringLiteral("/a.txt"), dir + QStringLiteral("/b.txt"),
                      dir + QStringLiteral("/c,d.txt")};
    form->AttachCommand->click();
    QVERIFY(form->Command9->isEnabled());
    form->Command9->click();
    form->Command9->click();
    QCOMPARE(form->AttachText->text(), dir + QStringLiteral("/a.txt,") + dir +
                                           QStringLiteral("/b.txt,") + dir +
                                           QStringLiteral("/c,d.txt"));
    QStringList rows;
    for (int i = 0; i < form->List2->count(); ++i) {
        rows << form->List2->item(i)->text();
    }
    QCOMPARE(rows, (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt"),
                                QStringLiteral("c,d.txt")}));
    // The file whose name holds "," is still one file.
    QCOMPARE(form->attachments().size(), 3);
    // A hand edit: pieces are split where the files are.
    form->AttachText->setText(dir + QStringLiteral("/c,d.txt, ") + dir + QStringLiteral("/a.txt"));
    QCOMPARE(form->attachments(),
             (QStringList{dir + QStringLiteral("/c,d.txt"), dir + QStringLiteral("/a.txt")}));

    // "リスト": the counter is the program's, not the window's.
    form->Command16->click();
    QCOMPARE(form->Command16->text(), QStringLiteral("非表示"));
    QCOMPARE(form->Command16->accessibleName(), QStringLiteral("非表示"));
    QVERIFY(!form->List2->isVisibleTo(form));
    QCOMPARE(ui::backgroundColour(form->Command16), ui::paletteColour(14));
    QVERIFY(!form->AttachText->text().isEmpty());
    c.app.ui.answers = {true}; // the files were attached to nothing sent
    form->close();
    AppFixture::settle();
    form = c.open();
    form->Command16->click();
    QCOMPARE(form->Command16->text(), QStringLiteral("表示"));
    QCOMPARE(ui::backgroundColour(form->Command16), QColor(192, 192, 192));
    QVERIFY(form->List2->isVisibleTo(form));

    // "取り消し" empties everything; the next send passes no attachment.
    c.app.ui.files = {dir + QStringLiteral("/a.txt")};
    form->AttachCommand->click();
    form->Command10->click();
    QVERIFY(form->AttachText->text().isEmpty());
    QCOMPARE(form->List2->count(), 0);
    form->ToText->setText(QStringLiteral("hanako@example.jp"));
    form->Command1->click();
    Compose::settle(form);
    QCOMPARE(c.mail.sends.size(), 1);
    QVERIFY(c.mail.sends[0].attachments.isEmpty());
}

void WriteFormTest::heldMailIsHeldRecalledAndDeleted()
{
    Compose c(addressRecords({{QStringLiteral("山田"), QStringLiteral("taro@example.jp")}}));
    QPointer<WriteForm> form = c.open();
    // "下書き": the first click shows the panel, the second lists the book again.
    form->Command17->click();
    QVERIFY(form->Picture7->isVisibleTo(form));
    QCOMPARE(form->Command17->text(), QStringLiteral("　アドレス呼出"));

    // An empty subject refuses; nothing is written.
    form->Command13->click();
    QCOMPARE(c.lastMessage(), QStringLiteral("件名が空白です。保存出来ません。"));
    QVERIFY(c.app.readData(QStringLiteral("krddata10.data")).isEmpty());

    const QString longBody = QStringLiteral("長い本文。").repeated(4000); // 20000 characters
    const QString bodies[] = {QStringLiteral("一通目"), longBody, QStringLiteral("三通目")};
    for (int i = 0; i < 3; ++i) {
        form->ToText->setText(QStringLiteral("to%1@example.jp").arg(i + 1));
        form->SubjectText->setText(QStringLiteral("件名%1").arg(i + 1));
        form->rtfEd->setPlainText(bodies[i]);
        // The second (20000 two-byte characters) does not fit its field: a
        // second question says so, and Yes holds it cut.
        c.app.ui.answers = i == 1 ? std::deque<bool>{true, true} : std::deque<bool>{true};
        form->Command13->click();
        Compose::settle(form); // the record is written off the window's thread
        if (i == 1) {
            QVERIFY(c.lastMessage().contains(QStringLiteral("本文が長すぎます")));
        }
    }
    QCOMPARE(c.app.readData(QStringLiteral("krddata10.data")).size(), 3 * MailRecord::kLength);
    QCOMPARE(c.app.context->listMode, 10);
    QCOMPARE(form->width(), ui::twips(WriteForm::kWideWidth));
    QCOMPARE(ui::backgroundColour(form->List1), QColor(206, 240, 244));
    QCOMPARE(form->List1->count(), 3);
    QCOMPARE(form->Text1->text(), QStringLiteral("3"));
    QVERIFY(form->ToText->text().isEmpty() && form->SubjectText->text().isEmpty() &&
            form->rtfEd->toPlainText().isEmpty());

    // "削除" straight after a recall, without a row chosen, deletes nothing.
    form->Command14->click();
    form->Command15->click();
    QCOMPARE(c.lastMessage(), QStringLiteral("データが選択されていません"));
    QCOMPARE(c.app.readData(QStringLiteral("krddata10.data")).size(), 3 * MailRecord::kLength);

    c.clickRow(form, 0);
    QCOMPARE(form->Text2->text(), QStringLiteral("1"));
    QCOMPARE(form->ToText->text(), QStringLiteral("to1@example.jp"));
    QCOMPARE(form->SubjectText->text(), QStringLiteral("件名1"));
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("一通目"));

    // No to the question deletes nothing but empties the body. The
    // question names the held mail, and Enter alone would answer No.
    c.app.ui.answers = {false};
    form->Command15->click();
    QCOMPARE(c.app.ui.messages.last().text,
             QStringLiteral("選択された（行、青色）データを削除します。よろしいですか\r\n\r\n"
                            "件名: 件名1\r\n宛先: to1@example.jp"));
    QCOMPARE(c.app.ui.messages.last().byDefault, DefaultAnswer::No);
    QVERIFY(form->rtfEd->toPlainText().isEmpty());
    QVERIFY(form->Text2->text().isEmpty());
    QCOMPARE(c.app.readData(QStringLiteral("krddata10.data")).size(), 3 * MailRecord::kLength);

    const QByteArray before = c.app.readData(QStringLiteral("krddata10.data"));
    c.clickRow(form, 1);
    c.app.ui.answers = {true};
    form->Command15->click();
    Compose::settle(form);
    for (int i = 0; i < 2000 && form->List1->count() != 2; ++i) {
        QTest::qWait(1);
    }
    const QByteArray after = c.app.readData(QStringLiteral("krddata10.data"));
    QCOMPARE(after.size(), 64568);
    QCOMPARE(after.first(MailRecord::kLength), before.first(MailRecord::kLength));
    QCOMPARE(after.mid(MailRecord::kLength), before.mid(2 * MailRecord::kLength));
    QCOMPARE(form->List1->count(), 2);
    QCOMPARE(form->Text1->text(), QStringLiteral("2"));
    QCOMPARE(fieldText(after.mid(MailRecord::kLength), MailRecord::kSubject),
             QStringLiteral("件名3"));
    QVERIFY(!c.app.root.exists(QStringLiteral("app/★MailData/KRDDATA10.TMP")));

    // With the address book in List1, "削除" deletes nothing.
    form->Command17->click();
    QCOMPARE(form->Command17->text(), QStringLiteral("下書き"));
    QCOMPARE(c.app.context->listMode, 0);
    QCOMPARE(form->List1->count(), 1);
    c.clickRow(form, 0);
    QCOMPARE(form->ToText->text(), QStringLiteral("taro@example.jp"));
    form->Command15->click();
    QCOMPARE(c.app.readData(QStringLiteral("krddata10.data")).size(), 64568);

    // A 20000-character body that fits (one byte each) comes back whole.
    form->Command14->click();
    form->SubjectText->setText(QStringLiteral("長文"));
    form->rtfEd->setPlainText(QStringLiteral("abcdefghij").repeated(2000));
    c.app.ui.answers = {true};
    form->Command13->click();
    Compose::settle(form);
    c.clickRow(form, 2);
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("abcdefghij").repeated(2000));
}

void WriteFormTest::holdingAsksBeforeLosingText()
{
    Compose c;
    WriteForm* form = c.open();
    form->ToText->setText(QStringLiteral("a@example.jp"));
    form->SubjectText->setText(QStringLiteral("Café ☕"));
    form->rtfEd->setPlainText(QStringLiteral("本文"));
    c.app.ui.answers = {true, false};
    form->Command13->click();
    QVERIFY(c.lastMessage().contains(QStringLiteral("件名に保存できない文字があります")));
    // No: nothing written, the window as it was.
    QVERIFY(c.app.readData(QStringLiteral("krddata10.data")).isEmpty());
    QCOMPARE(form->SubjectText->text(), QStringLiteral("Café ☕"));
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("本文"));
}

void WriteFormTest::theGreetingGoesAtTheStartOfTheBody()
{
    Compose c;
    WriteForm* form = c.open();
    form->rtfEd->setPlainText(QStringLiteral("書きかけのメール"));
    // Tabbing through the empty box leaves the body alone.
    focusEvent(form->Combo1, QEvent::FocusIn);
    focusEvent(form->Combo1, QEvent::FocusOut);
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("書きかけのメール"));

    // Phrase 4, then into the body: the phrase on the first line, what was
    // written after it; Undo takes the phrase back.
    focusEvent(form->Combo1, QEvent::FocusIn);
    focusEvent(form->Combo1, QEvent::FocusOut, Qt::PopupFocusReason); // the list opens
    form->Combo1->setCurrentIndex(3);
    Q_EMIT form->Combo1->activated(3);
    focusEvent(form->Combo1, QEvent::FocusIn, Qt::PopupFocusReason); // ... and closes
    focusEvent(form->Combo1, QEvent::FocusOut, Qt::MouseFocusReason);
    QCOMPARE(form->rtfEd->toPlainText(),
             QStringLiteral("いつもお世話になっております。\n書きかけのメール"));
    form->tbToolBar->actions()[6]->trigger();
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("書きかけのメール"));

    // The same with the focus really moving from the box to the body; in
    // and out again does not put it there twice.
    form->rtfEd->clear();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form));
    form->Combo1->setFocus();
    form->Combo1->setEditText(QStringLiteral("前略"));
    form->rtfEd->setFocus();
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("前略"));
    form->Combo1->setFocus();
    form->Combo1->setEditText(QStringLiteral("前略"));
    form->rtfEd->setFocus();
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("前略"));

    // A typed phrase followed at once by "送信" goes out at the body's start.
    form->rtfEd->setPlainText(QStringLiteral("本文です"));
    focusEvent(form->Combo1, QEvent::FocusIn);
    form->Combo1->setEditText(QStringLiteral("拝啓"));
    form->ToText->setText(QStringLiteral("hanako@example.jp"));
    form->Command1->click();
    Compose::settle(form);
    QCOMPARE(c.mail.sends.size(), 1);
    QCOMPARE(c.mail.sends[0].body, QStringLiteral("拝啓\r\n本文です"));
}

void WriteFormTest::pastesAddressPaneAndHiddenMode()
{
    const QString longAddress = QStringLiteral("a").repeated(56) + QStringLiteral("@example.jp");
    Compose c(
        addressRecords({{QStringLiteral("長い"), longAddress},
                        {QStringLiteral("名刺"), QStringLiteral("花子<hanako@example.jp>")}}));
    WriteForm* form = c.open();
    c.app.ui.clipboard = QStringLiteral("  abc  ");
    form->rtfEd->setPlainText(QStringLiteral("12"));
    QTextCursor cursor = form->rtfEd->textCursor();
    cursor.setPosition(1);
    form->rtfEd->setTextCursor(cursor);
    form->Command5->click();
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("1abc2"));
    form->ToText->setText(QStringLiteral("xyz"));
    form->ToText->setSelection(1, 1);
    form->Command7->click();
    QCOMPARE(form->ToText->text(), QStringLiteral("xabcz"));

    // The address pane: 67 characters come in as their first 60.
    form->Command4->click();
    QCOMPARE(form->width(), ui::twips(WriteForm::kWideWidth));
    c.clickRow(form, 0);
    QCOMPARE(form->ToText->text(), longAddress.left(60));
    form->Command6->click();
    QCOMPARE(form->width(), ui::twips(WriteForm::kSmallWidth));

    // The hidden mode needs the code exactly.
    const int height = form->height();
    form->ToText->setText(QStringLiteral("TOBI"));
    QTest::mouseDClick(form->Label7, Qt::LeftButton);
    QCOMPARE(form->height(), height);
    QVERIFY(!form->Command2->isVisibleTo(form));
    form->ToText->setText(QStringLiteral("tobi"));
    QTest::mouseDClick(form->Label7, Qt::LeftButton);
    QCOMPARE(form->height(), ui::twips(WriteForm::kHiddenModeHeight));
    QVERIFY(form->Command2->isVisibleTo(form) && form->Command2->isEnabled());
    QVERIFY(form->Command2->mapTo(form, QPoint(0, form->Command2->height())).y() <= form->height());
    form->Command2->click();
    QCOMPARE(form->Text4->text(), QStringLiteral("  abc  ")); // untrimmed
}

void WriteFormTest::aSentMailEmptiesAndClosesAFailedOneStays()
{
    Compose c;
    QPointer<WriteForm> form = c.open();
    const QString file = c.app.root.file(QStringLiteral("資料.txt"));
    c.app.root.write(QStringLiteral("資料.txt"), "x");
    form->ToText->setText(QStringLiteral("hanako@example.jp"));
    form->SubjectText->setText(QStringLiteral("件名"));
    form->rtfEd->setPlainText(QStringLiteral("一行目\n二行目"));
    c.app.ui.files = {file};
    form->AttachCommand->click();
    form->Check1->setChecked(true);

    // A failure: one box with the library's text; everything stays.
    c.mail.results = {-1};
    c.mail.errorText = QStringLiteral("サーバーに接続できません。");
    c.mail.hold = true;
    form->Command1->click();
    QVERIFY(c.mail.started.tryAcquire(1, 5000));
    // While it sends, nothing can be edited or sent again; the window stays.
    QVERIFY(!form->Command1->isEnabled() && !form->ToText->isEnabled() &&
            !form->rtfEd->isEnabled());
    QVERIFY(!form->Command3->isEnabled());
    QCOMPARE(form->Label7->text(), QStringLiteral("メールを送信中です。しばらくお待ち下さい。"));
    form->close();
    QVERIFY(form->isVisible());
    c.mail.proceed.release();
    Compose::settle(form);
    QVERIFY(form);
    QCOMPARE(c.app.ui.messages.size(), 1);
    QCOMPARE(c.app.ui.messages[0].title, QStringLiteral("送信エラー"));
    QCOMPARE(c.app.ui.messages[0].text, QStringLiteral("サーバーに接続できません。"));
    QCOMPARE(form->ToText->text(), QStringLiteral("hanako@example.jp"));
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("一行目\n二行目"));
    QCOMPARE(form->attachments(), QStringList{file});
    QVERIFY(form->Label7->text().contains(QStringLiteral("送信されていません")));
    QVERIFY(form->Command1->isEnabled() && form->ToText->isEnabled());

    // The library is called with the arguments in their order.
    c.mail.hold = false;
    form->Command1->click();
    Compose::settle(form);
    QCOMPARE(c.mail.sends.size(), 2);
    const SendingMailLibrary::Send& s = c.mail.sends[1];
    QCOMPARE(s.server, QStringLiteral("smtp.example.jp"));
    QCOMPARE(s.to, QStringLiteral("hanako@example.jp"));
    QVERIFY(s.cc.isNull() && s.bcc.isNull() && s.header.isNull());
    QCOMPARE(s.from, QStringLiteral("taro@example.jp"));
    QCOMPARE(s.subject, QStringLiteral("件名"));
    QCOMPARE(s.body, QStringLiteral("一行目\r\n二行目"));
    QCOMPARE(s.attachments, QStringList{file});
    QCOMPARE(s.flag, 0);
    QVERIFY(!form); // sent: emptied and closed
    QCOMPARE(c.app.ui.messages.size(), 1);

    // The next window opens empty, the fortune box unchecked.
    form = c.open();
    QVERIFY(form->ToText->text().isEmpty() && form->AttachText->text().isEmpty());
    QVERIFY(!form->Check1->isChecked());
    // All fields empty still reach the library once, and the window closes.
    form->Command1->click();
    Compose::settle(form);
    QCOMPARE(c.mail.sends.size(), 3);
    QVERIFY(c.mail.sends[2].to.isEmpty() && c.mail.sends[2].subject.isEmpty());
    QVERIFY(!form);
}

void WriteFormTest::bulkSendMailsEveryEntryAndReportsOnce()
{
    Compose c(addressRecords({{QStringLiteral("一"), QStringLiteral("one@example.jp")},
                              {QStringLiteral("二"), QStringLiteral("花子<two@example.jp>")},
                              {QStringLiteral("三"), QStringLiteral("three@example.jp")}}));
    QPointer<WriteForm> form = c.open();
    // No to the question: the recipient box stays empty and off until "取消".
    form->ToText->setText(QStringLiteral("x@example.jp"));
    c.app.ui.answers = {false};
    form->Option2->click();
    QVERIFY(!form->Option2->isChecked());
    QVERIFY(form->ToText->text().isEmpty() && !form->ToText->isEnabled());
    QCOMPARE(ui::backgroundColour(form->ToText), ui::paletteColour(15));
    form->Option1->click();
    QVERIFY(form->ToText->isEnabled());

    c.app.ui.answers = {true};
    form->Option2->click();
    QVERIFY(form->Option2->isChecked());
    QCOMPARE(ui::backgroundColour(form->ToText), QColor(213, 239, 255));
    QCOMPARE(ui::backgroundColour(form->List1), ui::paletteColour(2));
    QVERIFY(c.app.ui.messages.last().text.contains(QStringLiteral("\r\n\r\n件名、本文入力完了後")));

    // Every mail fails the same way: one box with that text, then the summary.
    form->SubjectText->setText(QStringLiteral("お知らせ"));
    form->rtfEd->setPlainText(QStringLiteral("皆様へ"));
    c.mail.results = {-1, 0, -1};
    c.mail.errorText = QStringLiteral("サーバーに接続できません。");
    const qsizetype before = c.app.ui.messages.size();
    form->Command1->click();
    Compose::settle(form);
    QCOMPARE(c.mail.sends.size(), 3);
    QStringList to;
    for (const auto& s : c.mail.sends) {
        to << s.to;
        QCOMPARE(s.subject, QStringLiteral("お知らせ"));
        QCOMPARE(s.body, QStringLiteral("皆様へ"));
    }
    // Record order, trailing spaces removed, the business card as stored.
    QCOMPARE(to,
             (QStringList{QStringLiteral("one@example.jp"), QStringLiteral("花子<two@example.jp>"),
                          QStringLiteral("three@example.jp")}));
    QVERIFY(form);
    QCOMPARE(c.app.ui.messages.size(), before + 2);
    QCOMPARE(c.app.ui.messages[before].title, QStringLiteral("送信エラー"));
    const QString summary = c.app.ui.messages.last().text;
    QVERIFY(summary.startsWith(QStringLiteral("3 件中 1 件を送信しました。")));
    QVERIFY(summary.contains(QStringLiteral("one@example.jp\r\nthree@example.jp")));
    QCOMPARE(form->SubjectText->text(), QStringLiteral("お知らせ"));
    QVERIFY(form->Option2->isChecked() && !form->ToText->isEnabled());

    // "    送信中止" during a bulk send stops the rest after the mail in hand.
    c.mail.hold = true;
    c.app.ui.answers = {true};
    form->Command1->click();
    QVERIFY(c.mail.started.tryAcquire(1, 5000));
    QVERIFY(form->Command3->isEnabled());
    form->Command3->click();
    c.mail.proceed.release(3);
    Compose::settle(form);
    QCOMPARE(c.mail.sends.size(), 4);
    QVERIFY(form);
    QVERIFY(
        c.app.ui.messages.last().text.contains(QStringLiteral("残りの 2 件は送信を中止しました")));

    // An empty address book: nothing sent, "送信完了です。" and closed.
    c.mail.hold = false;
    c.app.writeData(QStringLiteral("krddata20.data"), {});
    form->Command1->click();
    Compose::settle(form);
    QCOMPARE(c.mail.sends.size(), 4);
    QVERIFY(!form);
}

void WriteFormTest::endingTheProgramDuringASendAsksFirst()
{
    Compose c(addressRecords({{QStringLiteral("一"), QStringLiteral("one@example.jp")},
                              {QStringLiteral("二"), QStringLiteral("two@example.jp")},
                              {QStringLiteral("三"), QStringLiteral("three@example.jp")}}));
    QPointer<WriteForm> form = c.open();
    c.app.ui.answers = {true};
    form->Option2->click();
    c.mail.hold = true;
    form->Command1->click();
    QVERIFY(c.mail.started.tryAcquire(1, 5000));
    // No: the program goes on, and so does the send.
    c.app.ui.answers = {false};
    QVERIFY(!c.app.mainForm->close());
    QVERIFY(form && form->sending());
    // Yes: the mail in hand is finished, the rest is not sent, then it ends.
    c.app.ui.answers = {true};
    std::thread release([&] {
        QThread::msleep(200);
        c.mail.proceed.release(3);
    });
    QVERIFY(c.app.mainForm->close());
    release.join();
    QCOMPARE(c.mail.snapshot().size(), 1);
}

// "送信中止", the close box and the end of the program close an untouched
// window at once; with text the user typed they ask, No (the default)
// keeping everything. Nobody to ask at the end: the mail is held.
void WriteFormTest::unsentTextIsNeverThrownAwayUnasked()
{
    Compose c;
    QPointer<WriteForm> form = c.open();
    form->Command3->click(); // nothing written: closes at once
    AppFixture::settle();
    QVERIFY(!form);
    QVERIFY(c.app.ui.messages.isEmpty());

    form = c.open();
    form->ToText->setText(QStringLiteral("hanako@example.jp"));
    form->rtfEd->setPlainText(QStringLiteral("大事な本文"));
    c.app.ui.answers = {false};
    form->Command3->click();
    QVERIFY(form && form->isVisible());
    QCOMPARE(c.app.ui.messages.last().title, QStringLiteral("確認"));
    QCOMPARE(c.app.ui.messages.last().byDefault, DefaultAnswer::No);
    c.app.ui.answers = {false};
    QVERIFY(!form->close()); // the close box
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("大事な本文"));
    // Ending the program asks too; No keeps the program and the mail.
    c.app.ui.answers = {false};
    QVERIFY(!c.app.mainForm->close());
    QVERIFY(form && form->isVisible());

    // A held mail recalled and not changed is nothing to lose.
    form->SubjectText->setText(QStringLiteral("件名"));
    c.app.ui.answers = {true};
    form->Command13->click(); // hold
    Compose::settle(form);
    QVERIFY(form->rtfEd->toPlainText().isEmpty());
    c.clickRow(form, 0);
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("大事な本文"));
    const qsizetype asked = c.app.ui.messages.size();
    QVERIFY(form->close());
    QCOMPARE(c.app.ui.messages.size(), asked);
    AppFixture::settle();

    // Ended by the session (SIGTERM): the unsent mail goes to the held mails.
    form = c.open();
    form->ToText->setText(QStringLiteral("jiro@example.jp"));
    form->rtfEd->setPlainText(QStringLiteral("途中の本文"));
    c.app.mainForm->endUnattended();
    QVERIFY(!c.app.mainForm->isVisible());
    const QByteArray held = c.app.readData(QStringLiteral("krddata10.data"));
    QCOMPARE(held.size(), 2 * MailRecord::kLength);
    const MailRecord kept = MailRecord::fromBytes(held.mid(MailRecord::kLength));
    QCOMPARE(kept.from().trimmed(), QStringLiteral("jiro@example.jp"));
    QCOMPARE(kept.body().trimmed(), QStringLiteral("途中の本文"));
}

// "添付File" is on again after a failed send: a file chosen then joins the
// files already attached, and the list shows everything that is sent.
void WriteFormTest::afterAFailedSendMoreFilesJoinTheList()
{
    Compose c;
    const QString dir = c.app.root.path();
    c.app.root.write(QStringLiteral("a.txt"), "a");
    c.app.root.write(QStringLiteral("b.txt"), "b");
    QPointer<WriteForm> form = c.open();
    c.app.ui.files = {dir + QStringLiteral("/a.txt")};
    form->AttachCommand->click();
    form->ToText->setText(QStringLiteral("hanako@example.jp"));
    c.mail.results = {-1};
    form->Command1->click();
    Compose::settle(form);
    QVERIFY(form && form->AttachCommand->isEnabled());
    c.app.ui.files = {dir + QStringLiteral("/b.txt")};
    form->AttachCommand->click();
    QCOMPARE(form->attachments(),
             (QStringList{dir + QStringLiteral("/a.txt"), dir + QStringLiteral("/b.txt")}));
    QCOMPARE(form->List2->count(), 2);
    QCOMPARE(form->List2->item(1)->text(), QStringLiteral("b.txt"));
    form->Command1->click();
    Compose::settle(form);
    QCOMPARE(c.mail.snapshot().last().attachments,
             (QStringList{dir + QStringLiteral("/a.txt"), dir + QStringLiteral("/b.txt")}));
}

// A send or a hold that reaches the window while a send is still going is
// not dropped without a word.
void WriteFormTest::aSendOrHoldWhileTheLastIsFinishingSaysWhy()
{
    Compose c;
    QPointer<WriteForm> form = c.open();
    form->ToText->setText(QStringLiteral("hanako@example.jp"));
    form->SubjectText->setText(QStringLiteral("件名"));
    c.mail.hold = true;
    form->Command1->click();
    QVERIFY(c.mail.started.tryAcquire(1, 5000));
    // The buttons are off; the slots are what a keyboard or screen reader
    // would reach through another way in.
    QMetaObject::invokeMethod(form, "send");
    QVERIFY(c.lastMessage().startsWith(QStringLiteral("前のメールを送信中です。")));
    QMetaObject::invokeMethod(form, "hold");
    QVERIFY(c.lastMessage().startsWith(QStringLiteral("メールを送信中です。")));
    c.mail.proceed.release();
    Compose::settle(form);
    QCOMPARE(c.mail.snapshot().size(), 1);
}

void WriteFormTest::aMailtoLinkFillsTheWindowAndIsNeverSent()
{
    Compose c;
    QVERIFY(c.app.start());
    // Not open yet: the link opens it.
    c.app.windows->openLink(QStringLiteral(
        "mailto:taro@example.jp?cc=hanako@example.jp&bcc=spy@example.jp"
        "&subject=%E6%97%A5%E7%A8%8B&body=%E3%81%82%0D%0A%E3%81%84&attach=/etc/passwd"));
    QPointer<WriteForm> form = c.app.windows->existing<WriteForm>();
    QVERIFY(form && form->isVisible());
    QCOMPARE(form->ToText->text(), QStringLiteral("taro@example.jp, hanako@example.jp"));
    QCOMPARE(form->SubjectText->text(), QStringLiteral("日程"));
    QCOMPARE(editorText(form->rtfEd), QStringLiteral("あ\r\nい"));
    QVERIFY(form->attachments().isEmpty());
    QVERIFY(form->Label7->text().contains(QStringLiteral("bcc, attach")));
    QVERIFY(c.mail.snapshot().isEmpty());

    // A mail being written is replaced only on Yes.
    c.app.ui.answers = {false};
    c.app.windows->openLink(QStringLiteral("mailto:other@example.jp?subject=x"));
    QCOMPARE(form->SubjectText->text(), QStringLiteral("日程"));
    QVERIFY(c.lastMessage().contains(QStringLiteral("書きかけのメール")));
    c.app.ui.answers = {true};
    c.app.windows->openLink(QStringLiteral("mailto:other@example.jp?subject=x"));
    QCOMPARE(form->ToText->text(), QStringLiteral("other@example.jp"));
    QCOMPARE(form->SubjectText->text(), QStringLiteral("x"));
    QVERIFY(editorText(form->rtfEd).isEmpty());
    QVERIFY(c.mail.snapshot().isEmpty());
}

void WriteFormTest::helpTextsFollowTheMouse()
{
    Compose c({}, "NUMBER=1\r\n");
    WriteForm* form = c.open();
    moveOver(form->Command1);
    QVERIFY(form->Text14->isVisible());
    QCOMPARE(
        form->Text14->toPlainText(),
        QStringLiteral(
            "送信します。電話回線が接続されていない場合は、自動的に接続してメールを送信します。"));
    // Inside the header frame too: the frame passes the move on and must not
    // hide the text its control has just shown.
    moveOver(form->Label2[1]);
    QVERIFY(
        form->Text14->toPlainText().startsWith(QStringLiteral("本文の冒頭に例文を貼り付けます。")));
    QVERIFY(form->Text14->isVisible());
    moveOver(form->AttachCommand);
    QCOMPARE(form->Text14->toPlainText().count(u'\n'), 3);
    QVERIFY(form->Text14->isVisible());
    moveOver(form->Check1);
    QVERIFY(form->Text14->toPlainText().contains(QStringLiteral("占い")));
    QVERIFY(form->Text14->isVisible());
    QCOMPARE(form->Command8->accessibleDescription(), form->explanationFor(form->Command8));
    moveOver(form->rtfEd->viewport());
    QVERIFY(!form->Text14->isVisible());
    moveOver(form->Option2);
    QVERIFY(form->Text14->isVisible());
    moveOver(form->Frame1);
    QVERIFY(!form->Text14->isVisible());
    // A control without a help text changes nothing.
    moveOver(form->Command9);
    moveOver(form->Text1);
    QVERIFY(form->Text14->toPlainText().startsWith(QStringLiteral("添付ファイルを複数送信する")));
}

void WriteFormTest::everyControlHasAName()
{
    Compose c;
    WriteForm* form = c.open();
    const QStringList problems =
        lumora::test::nameProblems(form, {
                                             {form->ToText, "宛先"},
                                             {form->SubjectText, "件名"},
                                             {form->AttachText, "添付ファイル"},
                                             {form->rtfEd, "本文"},
                                             {form->List1, "アドレス帳"},
                                             {form->List2, "添付ファイル一覧"},
                                             {form->Combo1, "首記例"},
                                             {form->Label7, "状態"},
                                             {form->Command3, "送信中止"},
                                             {form->Command8, "絵・顔文字"},
                                             {form->Command6, "サイズ（小）"},
                                         });
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
}

void WriteFormTest::sendsThroughTheRealServer()
{
    MailServers servers;
    QVERIFY(servers.started());
    MailLibraryOptions options;
    options.caFile = servers.caFile();
    const auto library = createMailLibrary(options);
    Compose c(
        addressRecords({{QStringLiteral("一"), QStringLiteral("one@example.jp   ")},
                        {QStringLiteral("二"), QStringLiteral("two@example.jp")},
                        {QStringLiteral("三"), QStringLiteral("山田 三郎<three@example.jp>")}}));
    c.app.library = library.get();
    c.app.writeServerFile("SMTP=" + servers.smtp().toUtf8() + "\r\nPOP3=" +
                          servers.pop3().toUtf8() + "\r\nMAIL=taro@example.jp\r\nAPOP=0\r\n");
    const QByteArray first = "添付一\r\n" + QByteArray(3000, 'a');
    QByteArray second;
    for (int i = 0; i < 20000; ++i) {
        second += char(i * 7 % 256);
    }
    c.app.root.write(QStringLiteral("見積書.txt"), first);
    c.app.root.write(QStringLiteral("写真 (1).jpg"), second);
    const QString spool = servers.value(QStringLiteral("LUMORA_SMTP_SPOOL"));
    const auto readSpool = [&] {
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(LUMORA_SPOOL_READER), spool});
        p.waitForFinished(30'000);
        return QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    };
    const auto sha = [](const QByteArray& b) {
        return QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex());
    };

    // One Japanese mail with two Japanese-named attachments.
    QPointer<WriteForm> form = c.open();
    form->ToText->setText(QStringLiteral("花子 <hanako@example.jp>"));
    form->SubjectText->setText(QStringLiteral("見積書と写真をお送りします"));
    form->rtfEd->setPlainText(
        QStringLiteral("いつもお世話になっております。\n①の件、よろしくお願いします。"));
    c.app.ui.files = {c.app.root.file(QStringLiteral("見積書.txt")),
                      c.app.root.file(QStringLiteral("写真 (1).jpg"))};
    form->AttachCommand->click();
    form->Command9->click();
    form->Command1->click();
    Compose::settle(form);
    QVERIFY2(!form, qPrintable(c.lastMessage()));
    QJsonArray spooled = readSpool();
    QCOMPARE(spooled.size(), 1);
    QJsonObject m = spooled[0].toObject();
    QCOMPARE(m[u"subject"].toString(), QStringLiteral("見積書と写真をお送りします"));
    QCOMPARE(m[u"rcpt"].toArray(), QJsonArray{QStringLiteral("hanako@example.jp")});
    QCOMPARE(m[u"to_names"].toArray(), QJsonArray{QStringLiteral("花子")});
    QCOMPARE(m[u"mail_from"].toString(), QStringLiteral("taro@example.jp"));
    QCOMPARE(m[u"body"].toString().replace(QStringLiteral("\r\n"), QStringLiteral("\n")).trimmed(),
             QStringLiteral("いつもお世話になっております。\n①の件、よろしくお願いします。"));
    QVERIFY(!m[u"bare_cr"].toBool());
    QJsonArray files = m[u"attachments"].toArray();
    QCOMPARE(files.size(), 2);
    QCOMPARE(files[0][u"name"].toString(), QStringLiteral("見積書.txt"));
    QCOMPARE(files[0][u"sha256"].toString(), sha(first));
    QCOMPARE(files[1][u"name"].toString(), QStringLiteral("写真 (1).jpg"));
    QCOMPARE(files[1][u"sha256"].toString(), sha(second));

    // To every entry: three messages in record order, one recipient each.
    form = c.open();
    c.app.ui.answers = {true};
    form->Option2->click();
    form->SubjectText->setText(QStringLiteral("忘年会のご案内"));
    form->rtfEd->setPlainText(QStringLiteral("今年もやります。"));
    c.app.ui.files = {c.app.root.file(QStringLiteral("見積書.txt"))};
    form->AttachCommand->click();
    form->Command1->click();
    Compose::settle(form);
    QVERIFY2(!form, qPrintable(c.lastMessage()));
    spooled = readSpool();
    QCOMPARE(spooled.size(), 4);
    const char* const expected[] = {"one@example.jp", "two@example.jp", "three@example.jp"};
    for (int i = 0; i < 3; ++i) {
        m = spooled[i + 1].toObject();
        QCOMPARE(m[u"rcpt"].toArray(), QJsonArray{QString::fromLatin1(expected[i])});
        QCOMPARE(m[u"to_addresses"].toArray(), QJsonArray{QString::fromLatin1(expected[i])});
        QCOMPARE(m[u"subject"].toString(), QStringLiteral("忘年会のご案内"));
        QCOMPARE(m[u"body"].toString().trimmed(), QStringLiteral("今年もやります。"));
        QCOMPARE(m[u"attachments"].toArray()[0][u"sha256"].toString(), sha(first));
    }
    // The business card: its name encoded in To, the address alone on the envelope.
    QCOMPARE(m[u"to_names"].toArray(), QJsonArray{QStringLiteral("山田 三郎")});

    // A server that takes at most 256 KB: refused at once, with the limit.
    QByteArray big(400 * 1024, 'z');
    c.app.root.write(QStringLiteral("big.bin"), big);
    c.app.context->account.SmtpServer =
        QStringLiteral("127.0.0.1:") + servers.value(QStringLiteral("LUMORA_SMTP_SMALL_PORT"));
    form = c.open();
    form->ToText->setText(QStringLiteral("hanako@example.jp"));
    form->SubjectText->setText(QStringLiteral("大きい"));
    c.app.ui.files = {c.app.root.file(QStringLiteral("big.bin"))};
    form->AttachCommand->click();
    c.app.ui.messages.clear();
    form->Command1->click();
    Compose::settle(form);
    QVERIFY(form);
    QCOMPARE(c.app.ui.messages.size(), 1);
    QVERIFY2(c.lastMessage().contains(QStringLiteral("262144 バイト")),
             qPrintable(c.lastMessage()));
    QCOMPARE(readSpool().size(), 4);
    form->close();
    Compose::settle(form);

    // Not an address, and an attachment gone before the send: each fails at
    // once with a message that names it, and nothing goes out.
    c.app.context->account.SmtpServer = servers.smtp();
    form = c.open();
    form->ToText->setText(QStringLiteral("山田さん"));
    form->SubjectText->setText(QStringLiteral("件名"));
    c.app.ui.messages.clear();
    form->Command1->click();
    Compose::settle(form);
    QVERIFY(form);
    QVERIFY2(c.lastMessage().contains(QStringLiteral("「山田さん」")), qPrintable(c.lastMessage()));
    c.app.root.write(QStringLiteral("消える.txt"), "x");
    c.app.ui.files = {c.app.root.file(QStringLiteral("消える.txt"))};
    form->AttachCommand->click();
    QFile::remove(c.app.root.file(QStringLiteral("消える.txt")));
    form->ToText->setText(QStringLiteral("hanako@example.jp"));
    form->Command1->click();
    Compose::settle(form);
    QVERIFY(form);
    QCOMPARE(c.app.ui.messages.size(), 2);
    QVERIFY2(c.lastMessage().contains(QStringLiteral("消える.txt")), qPrintable(c.lastMessage()));
    QCOMPARE(readSpool().size(), 4);
    form->close();
    Compose::settle(form);

    // An unreachable server: one box, the window kept with its contents.
    c.app.context->account.SmtpServer = QStringLiteral("127.0.0.1:1");
    form = c.open();
    form->ToText->setText(QStringLiteral("hanako@example.jp"));
    form->SubjectText->setText(QStringLiteral("届かない"));
    form->rtfEd->setPlainText(QStringLiteral("消えない本文"));
    c.app.ui.messages.clear();
    form->Command1->click();
    Compose::settle(form);
    QVERIFY(form);
    QCOMPARE(c.app.ui.messages.size(), 1);
    QCOMPARE(c.app.ui.messages[0].title, QStringLiteral("送信エラー"));
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("消えない本文"));
    QCOMPARE(readSpool().size(), 4);
}

void WriteFormTest::theKeyboardAndAScreenReaderDoWhatTheMouseDoes()
{
    using namespace lumora::test;
    Compose c(addressRecords({{QStringLiteral("一"), QStringLiteral("one@example.jp")},
                              {QStringLiteral("二"), QStringLiteral("two@example.jp")}}));
    QPointer<WriteForm> form = c.open();
    QVERIFY(activate(form));
    const QString toggle = QAccessibleActionInterface::toggleAction();

    // 一括送信 toggled by a screen reader asks, as a click does; No leaves
    // it off, and 取消 gives the recipient box back.
    c.app.ui.answers = {false};
    doAccessibleAction(form->Option2, toggle);
    QVERIFY(c.lastMessage().startsWith(QStringLiteral("アドレス帳に登録している")));
    QVERIFY(!form->Option2->isChecked() && !form->ToText->isEnabled());
    doAccessibleAction(form->Option1, toggle);
    QVERIFY(form->ToText->isEnabled());
    // The space bar is the same click.
    c.app.ui.answers = {true};
    form->Option2->setFocus();
    QTest::keyClick(form->Option2, Qt::Key_Space);
    QVERIFY(form->Option2->isChecked() && !form->ToText->isEnabled());
    doAccessibleAction(form->Option1, toggle);
    QVERIFY(form->Option1->isChecked() && form->ToText->isEnabled());
    // So is an arrow key that moves to the other one (一括送信 is above).
    c.app.ui.answers = {true};
    form->Option1->setFocus();
    QTest::keyClick(form->Option1, Qt::Key_Up);
    QVERIFY(form->Option2->isChecked() && !form->ToText->isEnabled());
    QTest::keyClick(form->Option2, Qt::Key_Down);
    QVERIFY(form->Option1->isChecked() && form->ToText->isEnabled());
    form->Option2->setFocus(); // where the Tab key enters the pair below

    // Narrow, the address pane is out of view: out of the Tab chain and of
    // a screen reader's reach, as are the marker, the help pane and the
    // paste field of the hidden mode.
    QCOMPARE(tabChain(form->ToText),
             objectNames({"ToText", "SubjectText", "AttachCommand", "AttachText", "Command9",
                          "Command10", "Command16", "Combo1", "Check1", "Command4", "Command6",
                          "Command5", "Command7", "Command17", "Command8", "Option2", "rtfEd",
                          "Command1", "Command3"})); // the arrow keys move within the pair
    const QList<QWidget*> narrow = accessibleWidgets(form);
    for (QWidget* out : std::initializer_list<QWidget*>{form->List1, form->Text1, form->Text2,
                                                        form->Text14, form->Text4}) {
        QVERIFY2(!narrow.contains(out), qPrintable(out->objectName()));
    }
    QVERIFY2(designNamedControls(form).isEmpty(), qPrintable(designNamedControls(form).join(u',')));

    // Widened, the address list answers the keyboard: the space bar and the
    // arrow keys put the chosen entry's address in 宛先, as a click does.
    form->Command4->click();
    QVERIFY(accessibleWidgets(form).contains(form->List1));
    form->List1->setFocus();
    QTest::keyClick(form->List1, Qt::Key_Space);
    QCOMPARE(form->ToText->text(), QStringLiteral("one@example.jp"));
    QTest::keyClick(form->List1, Qt::Key_Down);
    QCOMPARE(form->ToText->text(), QStringLiteral("two@example.jp"));

    // A held mail recalled by a screen reader's selection, and by Enter.
    form->Command17->click();
    for (int i = 1; i <= 2; ++i) {
        form->ToText->setText(QStringLiteral("held%1@example.jp").arg(i));
        form->SubjectText->setText(QStringLiteral("保存%1").arg(i));
        form->rtfEd->setPlainText(QStringLiteral("本文%1").arg(i));
        c.app.ui.answers = {true};
        form->Command13->click();
        Compose::settle(form);
    }
    form->Command14->click();
    QCOMPARE(form->List1->count(), 2);
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(form->List1);
    QVERIFY(list && list->tableInterface());
    list->tableInterface()->selectRow(1);
    QCOMPARE(form->SubjectText->text(), QStringLiteral("保存2"));
    QCOMPARE(editorText(form->rtfEd), QStringLiteral("本文2"));
    // Enter on the same row recalls it again, asking first over an edit.
    form->ToText->clear();
    c.app.ui.answers = {true};
    form->List1->setFocus();
    QTest::keyClick(form->List1, Qt::Key_Return);
    QCOMPARE(form->ToText->text(), QStringLiteral("held2@example.jp"));

    // Enter on a focused button clicks it; Ctrl+Tab leaves the body, where
    // Tab types a tab.
    form->rtfEd->setPlainText(QString());
    form->rtfEd->setFocus();
    QTest::keyClick(form->rtfEd, Qt::Key_Tab);
    QCOMPARE(editorText(form->rtfEd), QStringLiteral("\t"));
    QTest::keyClick(form->rtfEd, Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), form->Command1);
    QTest::keyClick(form->Command6, Qt::Key_Return);
    QCOMPARE(form->width(), ui::twips(WriteForm::kSmallWidth));
}

QTEST_MAIN(WriteFormTest)
#include "write_form_test.moc"
