#include "addressbook/friend_form.h"
#include "support/app_fixture.h"
#include "support/keyboard_walk.h"
#include "ui/list_header.h"
#include "ui/picture_button.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <sys/stat.h>

using namespace lumora;
using lumora::test::AppFixture;

namespace {

QByteArray entryBytes(const QByteArray& name, const QByteArray& address)
{
    return name + QByteArray(90 - name.size(), ' ') + "\r\n" + QByteArray("\x01\x00", 2) + address +
           QByteArray(90 - address.size(), ' ');
}

ino_t inodeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

void pressRow(FriendForm* form, int row)
{
    QTreeWidget* list = form->MailListView;
    const QRect rect = list->visualItemRect(list->topLevelItem(row));
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, rect.center());
}

// An address book of three entries, opened from the main window.
struct ThreeEntries {
    ThreeEntries()
    {
        app.writeCompleteAccount();
        app.writeData(QStringLiteral("krddata20.data"), entryBytes("one", "1@x") +
                                                            entryBytes("two", "2@x") +
                                                            entryBytes("three", "3@x"));
    }
    FriendForm* open()
    {
        if (!app.start()) {
            return nullptr;
        }
        QTest::mouseClick(app.mainForm->Picture11, Qt::LeftButton);
        return app.windows->existing<FriendForm>();
    }
    AppFixture app;
};

} // namespace

class FriendFormTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void registerIntoAnEmptyBook();
    void deleteTheSecondOfThree();
    void answeringNoStillRewritesAndClearsTheBoxes();
    void selectAndDeleteWithoutASelectedRow();
    void anEntryWithoutAnAddressCanBeDeleted();
    void businessCard();
    void pasteButtonsCutToTheBoxLimits();
    void explanationsFollowTheMouseAndTheMainWindowsOption();
    void headerIsPaintedAndFlatWhilePressed();
    void theKeyboardAndAScreenReaderChooseEntriesAndEscapeCloses();
};

void FriendFormTest::registerIntoAnEmptyBook()
{
    AppFixture app;
    app.writeCompleteAccount();
    QVERIFY(app.start());
    QTest::mouseClick(app.mainForm->Picture11, Qt::LeftButton);
    FriendForm* form = app.windows->existing<FriendForm>();
    QVERIFY(form && form->isVisible());
    QCOMPARE(form->windowTitle(), QStringLiteral("アドレス帳"));
    QVERIFY(QFile::exists(app.dataFile(QStringLiteral("krddata20.data")))); // load creates it
    QCOMPARE(form->Text3->text(), QStringLiteral("0"));

    QTest::keyClicks(form->Text2, QStringLiteral("Taro"));
    QTest::keyClicks(form->Text4, QStringLiteral("a@b"));
    QTest::mouseClick(form->Command3, Qt::LeftButton);
    QCOMPARE(app.readData(QStringLiteral("krddata20.data")), entryBytes("Taro", "a@b"));
    QCOMPARE(form->Text3->text(), QStringLiteral("1"));
    QCOMPARE(form->Label7->text(), QStringLiteral("　登録が完了しました。"));
    QCOMPARE(form->MailListView->topLevelItem(0)->text(0).left(4), QStringLiteral("a@b "));
    QCOMPARE(form->MailListView->topLevelItem(0)->text(1).size(), 90); // not trimmed
    QCOMPARE(form->Text2->text(), QStringLiteral("Taro"));             // the boxes keep their text
    QVERIFY(app.ui.messages.isEmpty());
}

void FriendFormTest::deleteTheSecondOfThree()
{
    ThreeEntries book;
    FriendForm* form = book.open();
    QVERIFY(form);
    QCOMPARE(form->Text3->text(), QStringLiteral("3"));
    pressRow(form, 1);
    QCOMPARE(form->Text2->text(), QStringLiteral("two")); // trimmed
    QCOMPARE(form->Text4->text(), QStringLiteral("2@x"));
    QCOMPARE(form->Label7->text(), QStringLiteral("　選択しました。"));

    book.app.ui.answers.push_back(true);
    QTest::mouseClick(form->Command4, Qt::LeftButton);
    QCOMPARE(book.app.ui.messages.size(), 1);
    QCOMPARE(book.app.ui.messages[0].title, QStringLiteral("確認"));
    // The question names the entry, and Enter alone would answer No.
    QCOMPARE(book.app.ui.messages[0].text,
             QStringLiteral("選択された（行、青色）データを削除します。よろしいですか\r\n\r\n"
                            "名前: two\r\nアドレス: 2@x"));
    QCOMPARE(book.app.ui.messages[0].byDefault, DefaultAnswer::No);
    QCOMPARE(book.app.readData(QStringLiteral("krddata20.data")),
             entryBytes("one", "1@x") + entryBytes("three", "3@x"));
    QCOMPARE(form->Label7->text(), QStringLiteral("削除が完了しました"));
    QCOMPARE(form->Text3->text(), QStringLiteral("2"));
    QVERIFY(form->Text2->text().isEmpty() && form->Text4->text().isEmpty());
    QVERIFY(!QFile::exists(book.app.dataFile(QStringLiteral("KRDDATA20.TMP"))));
}

void FriendFormTest::answeringNoStillRewritesAndClearsTheBoxes()
{
    ThreeEntries book;
    FriendForm* form = book.open();
    QVERIFY(form);
    const QString path = book.app.dataFile(QStringLiteral("krddata20.data"));
    const QByteArray before = book.app.readData(QStringLiteral("krddata20.data"));
    const ino_t inode = inodeOf(path);
    pressRow(form, 2);
    form->Text50->setText(QStringLiteral("名刺"));
    book.app.ui.answers.push_back(false);
    QTest::mouseClick(form->Command4, Qt::LeftButton);
    QCOMPARE(book.app.readData(QStringLiteral("krddata20.data")), before);
    QVERIFY(inodeOf(path) != inode); // rebuilt through the temporary file
    QVERIFY(form->Text2->text().isEmpty() && form->Text4->text().isEmpty() &&
            form->Text50->text().isEmpty());
    QVERIFY(form->Label7->text().isEmpty());
    QCOMPARE(form->Text3->text(), QStringLiteral("3"));
}

void FriendFormTest::selectAndDeleteWithoutASelectedRow()
{
    AppFixture app;
    app.writeCompleteAccount();
    QVERIFY(app.start());
    app.windows->show<FriendForm>();
    FriendForm* form = app.windows->existing<FriendForm>();
    const QString path = app.dataFile(QStringLiteral("krddata20.data"));
    const ino_t inode = inodeOf(path);

    // An empty address box: the message, and the boxes keep their text.
    form->Text2->setText(QStringLiteral("花子"));
    QTest::mouseClick(form->Command4, Qt::LeftButton);
    QCOMPARE(app.ui.messages.size(), 1);
    QCOMPARE(app.ui.messages[0].text, QStringLiteral("データが選択されていません"));
    QCOMPARE(form->Text2->text(), QStringLiteral("花子"));

    // An address but no row: the same message, no question, nothing written.
    form->Text4->setText(QStringLiteral("hanako@example.jp"));
    QTest::mousePress(form->MailListView->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseClick(form->Command4, Qt::LeftButton);
    QCOMPARE(app.ui.messages.size(), 2);
    QCOMPARE(app.ui.messages[1].text, QStringLiteral("データが選択されていません"));
    QVERIFY(app.ui.unscripted.isEmpty());
    QCOMPARE(inodeOf(path), inode);
    QCOMPARE(form->Text4->text(), QStringLiteral("hanako@example.jp"));
    QVERIFY(form->Label7->text().isEmpty());
}

void FriendFormTest::anEntryWithoutAnAddressCanBeDeleted()
{
    AppFixture app;
    app.writeCompleteAccount();
    app.writeData(QStringLiteral("krddata20.data"), entryBytes("one", "1@x") +
                                                        entryBytes("noaddress", "") +
                                                        entryBytes("three", "3@x"));
    QVERIFY(app.start());
    app.windows->show<FriendForm>();
    FriendForm* form = app.windows->existing<FriendForm>();
    pressRow(form, 1);
    QVERIFY(form->Text4->text().isEmpty()); // selecting it leaves the box empty
    app.ui.answers.push_back(true);
    QTest::mouseClick(form->Command4, Qt::LeftButton);
    QCOMPARE(app.ui.messages.size(), 1);
    QCOMPARE(app.ui.messages[0].title, QStringLiteral("確認"));
    QCOMPARE(app.readData(QStringLiteral("krddata20.data")),
             entryBytes("one", "1@x") + entryBytes("three", "3@x"));
}

void FriendFormTest::businessCard()
{
    AppFixture app;
    app.writeCompleteAccount();
    QVERIFY(app.start());
    FriendForm* form = app.windows->window<FriendForm>();

    // Empty boxes: the address is asked for first, even with no card name.
    QTest::mouseClick(form->Command38, Qt::LeftButton);
    form->Text4->setText(QStringLiteral("a@b"));
    QTest::mouseClick(form->Command38, Qt::LeftButton);
    QCOMPARE(app.ui.messages.size(), 2);
    QCOMPARE(app.ui.messages[0].text, QStringLiteral("メールアドレスが入力されていません"));
    QCOMPARE(app.ui.messages[1].text, QStringLiteral("名詞が入力されていません"));
    QCOMPARE(form->Text4->text(), QStringLiteral("a@b"));

    form->Text4->setText(QStringLiteral("  taro@example.jp "));
    form->Text50->setText(QStringLiteral("山田太郎"));
    QTest::mouseClick(form->Command38, Qt::LeftButton);
    QCOMPARE(form->Text4->text(), QStringLiteral("山田太郎<taro@example.jp>"));

    // 40 + 1 + 25 + 1 = 67 characters: the box keeps 60, and registering
    // stores those 60.
    form->Text4->setText(QString(25, QLatin1Char('a')));
    form->Text50->setText(QString(40, QChar(u'名')));
    QTest::mouseClick(form->Command38, Qt::LeftButton);
    const QString expected = QString(40, QChar(u'名')) + QLatin1Char('<') + QString(19, u'a');
    QCOMPARE(form->Text4->text(), expected);
    QTest::mouseClick(form->Command3, Qt::LeftButton);
    const QByteArray stored = app.readData(QStringLiteral("krddata20.data"));
    QCOMPARE(stored.size(), 184);
    // 40 double-byte characters fill 80 bytes; "<" and 9 of the 19 letters
    // fill the rest of the 90-byte field.
    QCOMPARE(stored.mid(94 + 80, 10), QByteArray("<aaaaaaaaa"));
    QCOMPARE(form->MailListView->topLevelItem(0)->text(0), expected.left(50));

    // Typing beyond the limit is refused.
    form->Text2->clear();
    QTest::keyClicks(form->Text2, QString(35, QLatin1Char('n')));
    QCOMPARE(form->Text2->text(), QString(30, QLatin1Char('n')));
}

void FriendFormTest::pasteButtonsCutToTheBoxLimits()
{
    AppFixture app;
    app.writeCompleteAccount();
    QVERIFY(app.start());
    FriendForm* form = app.windows->window<FriendForm>();
    // Characters outside the basic plane count one each.
    app.ui.clipboard = QString(70, QLatin1Char('m'));
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    QCOMPARE(form->Text4->text(), QString(60, QLatin1Char('m')));
    app.ui.clipboard = QStringLiteral("𠮷").repeated(31);
    QTest::mouseClick(form->Command5, Qt::LeftButton);
    QCOMPARE(form->Text2->text(), QStringLiteral("𠮷").repeated(30));
    form->setAddress(QStringLiteral("x").repeated(61));
    QCOMPARE(form->Text4->text().size(), 60);
}

void FriendFormTest::explanationsFollowTheMouseAndTheMainWindowsOption()
{
    for (const bool shown : {true, false}) {
        AppFixture app;
        app.writeCompleteAccount();
        app.writeData(QStringLiteral("ini.ini"),
                      shown ? QByteArray("[EXEINI]\r\nNUMBER=1\r\n") : QByteArray());
        QVERIFY(app.start());
        app.windows->show<FriendForm>();
        FriendForm* form = app.windows->existing<FriendForm>();
        QCOMPARE(form->Text5->y() >= 0, shown);
        QVERIFY(!form->Text5->isVisible());

        QMouseEvent over(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form->Command4, &over);
        QVERIFY(form->Text5->isVisible());
        QCOMPARE(form->Text5->toPlainText(),
                 QStringLiteral("不要になったメールアドレスを削除します。"));
        QCoreApplication::sendEvent(form->Command38, &over);
        QVERIFY(form->Text5->toPlainText().endsWith(
            QStringLiteral("\n\n必要なければ挿入する必要はありません。")));
        // Over a label the box stays; over the bare background it goes.
        QMouseEvent background(QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton,
                               Qt::NoButton, Qt::NoModifier);
        QVERIFY(!form->childAt(2, 2));
        QCoreApplication::sendEvent(form, &background);
        QVERIFY(!form->Text5->isVisible());
        // The paste button beside the name has no explanation.
        QCoreApplication::sendEvent(form->Command5, &over);
        QVERIFY(!form->Text5->isVisible());
        app.mainForm->close();
    }
}

void FriendFormTest::headerIsPaintedAndFlatWhilePressed()
{
    AppFixture app;
    app.writeCompleteAccount();
    QVERIFY(app.start());
    app.windows->show<FriendForm>();
    FriendForm* form = app.windows->existing<FriendForm>();
    QHeaderView* header = form->MailListView->header();
    QVERIFY(ui::hasPaintedHeader(form->MailListView));
    QCOMPARE(header->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Address"));
    QCOMPARE(header->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Name"));
    const int width = form->MailListView->width();
    QCOMPARE(header->sectionSize(0), width / 2);
    QCOMPARE(header->sectionSize(1), static_cast<int>(width / 2.38));

    const auto edgeColours = [&](const QImage& image, int section) {
        const int left = header->sectionViewportPosition(section);
        const int right = left + header->sectionSize(section) - 2; // right edge moved in by 1
        const int bottom = header->height() - 1;
        const int midY = bottom / 2;
        return QList<QColor>{image.pixelColor(left, midY), image.pixelColor(left + 20, 0),
                             image.pixelColor(right, midY), image.pixelColor(left + 20, bottom)};
    };

    QImage image = header->grab().toImage();
    // The face, away from the caption.
    const int faceX = header->sectionViewportPosition(1) + header->sectionSize(1) - 10;
    QCOMPARE(image.pixelColor(faceX, header->height() / 2), ui::kHeaderFace);
    // White caption pixels 5 pixels in: somewhere in the first letters.
    bool caption = false;
    for (int x = 5; x < 40 && !caption; ++x) {
        for (int y = 2; y < header->height() - 2 && !caption; ++y) {
            caption = image.pixelColor(x, y) == ui::kHeaderCaption;
        }
    }
    QVERIFY(caption);
    QCOMPARE(edgeColours(image, 0), (QList<QColor>{ui::kHeaderEdgeLight, ui::kHeaderEdgeLight,
                                                   ui::kHeaderEdgeDark, ui::kHeaderEdgeDark}));

    // Pressed: the edge of that item is flat on all four sides until release.
    const QPoint inFirst(header->sectionViewportPosition(0) + 30, header->height() / 2);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, inFirst);
    image = header->grab().toImage();
    QCOMPARE(edgeColours(image, 0), QList<QColor>(4, ui::kHeaderEdgeFlat));
    QCOMPARE(edgeColours(image, 1)[0], ui::kHeaderEdgeLight);
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, inFirst);
    image = header->grab().toImage();
    QCOMPARE(edgeColours(image, 0)[0], ui::kHeaderEdgeLight);

    // An empty caption paints an empty face with its edge.
    form->MailListView->setHeaderLabels({QString(), QStringLiteral("Name")});
    image = header->grab().toImage();
    for (int x = 2; x < header->sectionSize(0) - 4; ++x) {
        QCOMPARE(image.pixelColor(x, header->height() / 2), ui::kHeaderFace);
    }
    QCOMPARE(edgeColours(image, 0)[0], ui::kHeaderEdgeLight);

    // Closing gives the header back its own painting; the list itself was
    // never changed.
    const QStyle* listStyle = form->MailListView->style();
    form->close();
    QVERIFY(!ui::hasPaintedHeader(form->MailListView));
    QCOMPARE(form->MailListView->style(), listStyle);
}

void FriendFormTest::theKeyboardAndAScreenReaderChooseEntriesAndEscapeCloses()
{
    using namespace lumora::test;
    ThreeEntries book;
    FriendForm* form = book.open();
    QVERIFY(activate(form));
    // The arrow keys choose an entry as the mouse does (the focus starts on
    // the first).
    form->MailListView->setFocus();
    QTest::keyClick(form->MailListView, Qt::Key_Down);
    QCOMPARE(form->Text4->text(), QStringLiteral("2@x"));
    QCOMPARE(form->Label7->text(), QStringLiteral("　選択しました。"));
    // So does a screen reader's selection; 削除 then deletes that entry.
    QAccessible::queryAccessibleInterface(form->MailListView)->tableInterface()->selectRow(2);
    QCOMPARE(form->Text2->text(), QStringLiteral("three"));

    QCOMPARE(tabChain(form->Text4),
             objectNames({"Text4", "Command1", "Text2", "Command5", "Text50", "Command38",
                          "Command3", "Command4", "Text3", "MailListView"}));
    QVERIFY(!accessibleWidgets(form).contains(form->Command2));
    QVERIFY2(designNamedControls(form).isEmpty(), qPrintable(designNamedControls(form).join(u',')));

    QPointer<FriendForm> closing = form;
    QTest::keyClick(form->Text4, Qt::Key_Escape);
    QTRY_VERIFY(!closing);
}

QTEST_MAIN(FriendFormTest)
#include "friend_form_test.moc"
