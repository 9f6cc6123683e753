#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "store/private_profile.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "support/accessible_names.h"
#include "support/app_fixture.h"
#include "support/keyboard_walk.h"
#include "ui/geometry.h"
#include "ui/picture_button.h"
#include "viewer/tyaku_form.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace lumora;
using lumora::test::AppFixture;

namespace {

// The keys of the settings file, in file order.
QStringList keysOf(const QByteArray& ini)
{
    QStringList keys;
    for (const QByteArray& line : ini.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0) {
            keys << QString::fromLatin1(line.left(eq));
        }
    }
    return keys;
}

QString imageName(const PictureButton* b)
{
    return b->pictureFile().section(u'/', -3);
}

void moveMouseOver(QWidget* w)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), w->mapToGlobal(QPointF(3, 3)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
}

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstStartInAnEmptyFolder();
    void storedOptionsAndButtonSet2AreRestored();
    void anEmptyBackgroundNameLoadsNothingAndIsWrittenBackEmpty();
    void aStoredBackgroundIsShownAndKept();
    void fiveStoredMailsCountFive();
    void keepOnServerIsWrittenTheMomentItChanges();
    void clearingTheExplanationOptionHidesTheBoxUntilTheNextStart();
    void explanationsFollowTheMouse();
    void setButtonsLoadTheirImagesAndAMissingImageKeepsTheOldOne();
    void backgroundButtonUsesTheFileDialog();
    void homePageOpensInTheBrowser();
    void settingsButtonOpensTheIntervalDialog();
    void closingWritesNoSettingOfTheOtherWindows();
    void theKeyboardAndAScreenReaderReachWhatIsInView();
};

void MainFormTest::firstStartInAnEmptyFolder()
{
    AppFixture app;
    QVERIFY(app.start());
    MainForm& form = *app.mainForm;
    QCOMPARE(form.windowTitle(), QStringLiteral("ルモラ Ver 1.0"));
    QVERIFY(!form.Check1->isChecked());
    QVERIFY(!form.Check2->isChecked());
    QVERIFY(!form.Check3->isChecked());
    QCOMPARE(form.Text4->text(), QStringLiteral("0"));
    QVERIFY(form.Text11->text().isEmpty());
    QVERIFY(form.Picture3->pictureFile().isEmpty()); // the designed images
    QVERIFY(!form.Picture3->picture().isNull());
    QVERIFY(QFile::exists(app.dataFile(QStringLiteral("krddata2.data"))));
    QCOMPARE(QFileInfo(app.dataFile(QStringLiteral("krddata2.data"))).size(), 0);

    QVERIFY(app.windows->existing<OptionForm>() &&
            app.windows->existing<OptionForm>()->isVisible());
    QVERIFY(app.windows->existing<OptionForm>()->windowFlags() & Qt::WindowStaysOnTopHint);
    IdPassForm* idPass = app.windows->existing<IdPassForm>();
    QVERIFY(idPass && idPass->isVisible());
    QCOMPARE(idPass->windowTitle(), QStringLiteral("ID,PASS"));
    QCOMPARE(idPass->PassText->echoMode(), QLineEdit::Password);
    QCOMPARE(app.mail.calls, QStringList({QStringLiteral("NMailInitializeWinSock"),
                                          QStringLiteral("NMailSetOption(1,8192)")}));
    QVERIFY(app.ui.messages.isEmpty());

    // Shut-down writes exactly the keys of a normal close, then ends the library.
    QSignalSpy ended(&form, &MainForm::ended);
    form.close();
    QCOMPARE(ended.count(), 1);
    QCOMPARE(app.readData(QStringLiteral("ini.ini")),
             QByteArray("[EXEINI]\r\nNUMBER=0\r\nNUMBER2=0\r\nNAME=\r\nNUMBER4=0\r\nNUMBER5=\r\n"));
    QCOMPARE(app.mail.calls.last(), QStringLiteral("NMailEndWinSock"));
    QVERIFY(!app.windows->existing<OptionForm>());
    QVERIFY(!app.windows->existing<IdPassForm>());
}

void MainFormTest::storedOptionsAndButtonSet2AreRestored()
{
    AppFixture app;
    app.writeCompleteAccount();
    app.writeData(QStringLiteral("ini.ini"),
                  "[EXEINI]\r\nNUMBER=1\r\nNUMBER2=1\r\nNUMBER3=1\r\nNUMBER4=15\r\nNUMBER5=2\r\n");
    QVERIFY(app.start());
    MainForm& form = *app.mainForm;
    QVERIFY(form.Check1->isChecked());
    QVERIFY(form.Check2->isChecked());
    QVERIFY(form.Check3->isChecked());
    QCOMPARE(form.Text11->text(), QStringLiteral("2"));
    QCOMPARE(imageName(form.Picture3), QStringLiteral("Button/2/1.jpg"));
    QCOMPARE(imageName(form.Picture13), QStringLiteral("Button/2/6.jpg"));
    QVERIFY(!app.windows->existing<OptionForm>());
    QVERIFY(!app.windows->existing<IdPassForm>()->isVisible());
    QCOMPARE(app.context->account.Pop3Server, QStringLiteral("pop.example.jp"));

    form.close();
    const QByteArray ini = app.readData(QStringLiteral("ini.ini"));
    QVERIFY(ini.contains("NUMBER5=2\r\n"));
    QVERIFY(ini.contains("NUMBER=1\r\n"));
    QVERIFY(ini.contains("NUMBER3=1\r\n"));
    QVERIFY(ini.contains("NUMBER4=15\r\n"));
}

void MainFormTest::anEmptyBackgroundNameLoadsNothingAndIsWrittenBackEmpty()
{
    AppFixture app;
    app.writeCompleteAccount();
    app.writeData(QStringLiteral("ini.ini"), "[EXEINI]\r\nNAME=\r\nNUMBER=abc\r\nNUMBER5=7\r\n");
    QVERIFY(app.start());
    MainForm& form = *app.mainForm;
    const QImage designed(QStringLiteral(":/design/background.png"));
    QCOMPARE(form.Image1->pixmap().toImage(),
             designed.convertToFormat(form.Image1->pixmap().toImage().format()));
    QVERIFY(form.Text10->text().isEmpty());
    QVERIFY(!form.Check1->isChecked());     // letters read as 0
    QVERIFY(form.Text11->text().isEmpty()); // 7 is no set
    form.close();
    const QByteArray ini = app.readData(QStringLiteral("ini.ini"));
    QVERIFY(ini.contains("NAME=\r\n"));
    QVERIFY(ini.contains("NUMBER5=\r\n"));
}

void MainFormTest::aStoredBackgroundIsShownAndKept()
{
    AppFixture app;
    app.writeCompleteAccount();
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::magenta);
    const QString file = app.root.file(QStringLiteral("壁紙.png"));
    QVERIFY(picture.save(file));
    QVERIFY(profile::writeString(app.dataFile(QStringLiteral("ini.ini")), QStringLiteral("EXEINI"),
                                 QStringLiteral("NAME"), QStringLiteral("  ") + file)
                .ok());
    QVERIFY(app.start());
    QCOMPARE(app.mainForm->Image1->pixmap().size(), QSize(40, 30));
    QCOMPARE(app.mainForm->Text10->text(), file); // the profile read trims the value
    app.mainForm->Text10->setText(QStringLiteral(" ") + file + QStringLiteral(" "));
    app.mainForm->close();
    QVERIFY(app.readData(QStringLiteral("ini.ini"))
                .contains("NAME=" + text::encodeCp932(file) + "\r\n"));
}

void MainFormTest::fiveStoredMailsCountFive()
{
    AppFixture app;
    app.writeCompleteAccount();
    QByteArray five;
    for (int i = 0; i < 5; ++i) {
        five += MailRecord::received(QString::number(i), {}, {}, {}).bytes();
    }
    app.writeData(QStringLiteral("krddata2.data"), five);
    QVERIFY(app.start());
    QCOMPARE(app.mainForm->Text4->text(), QStringLiteral("5"));
}

void MainFormTest::keepOnServerIsWrittenTheMomentItChanges()
{
    AppFixture app;
    app.writeCompleteAccount();
    QVERIFY(app.start());
    QVERIFY(!app.readData(QStringLiteral("ini.ini")).contains("NUMBER3"));
    app.mainForm->Check3->setChecked(true);
    QVERIFY(app.readData(QStringLiteral("ini.ini")).contains("NUMBER3=1\r\n"));
    app.mainForm->Check3->setChecked(false);
    QVERIFY(app.readData(QStringLiteral("ini.ini")).contains("NUMBER3=0\r\n"));
    // Shut-down does not write it again: only the five keys of a close follow.
    app.mainForm->close();
    QCOMPARE(keysOf(app.readData(QStringLiteral("ini.ini"))),
             QStringList({QStringLiteral("NUMBER3"), QStringLiteral("NUMBER"),
                          QStringLiteral("NUMBER2"), QStringLiteral("NAME"),
                          QStringLiteral("NUMBER4"), QStringLiteral("NUMBER5")}));
}

void MainFormTest::clearingTheExplanationOptionHidesTheBoxUntilTheNextStart()
{
    AppFixture app;
    app.writeCompleteAccount();
    app.writeData(QStringLiteral("ini.ini"), "[EXEINI]\r\nNUMBER=1\r\n");
    QVERIFY(app.start());
    MainForm& form = *app.mainForm;
    QVERIFY(!form.Text1->isHidden()); // start-up never hides it
    form.Check1->setChecked(false);
    QVERIFY(form.Text1->isHidden());
    QVERIFY(!form.Picture6->isHidden());
    form.Check1->setChecked(true);
    QVERIFY(form.Text1->isHidden());
}

void MainFormTest::explanationsFollowTheMouse()
{
    AppFixture app;
    app.writeCompleteAccount();
    QVERIFY(app.start());
    MainForm& form = *app.mainForm;
    moveMouseOver(form.Picture4);
    QCOMPARE(form.Text1->toPlainText(), QStringLiteral("新着メールの受信を行います。"));
    moveMouseOver(form.Text6);
    QVERIFY(form.Text1->toPlainText().startsWith(QStringLiteral("新着メール受信で")));
    moveMouseOver(form.Picture13);
    QVERIFY(form.Text1->toPlainText().contains(QStringLiteral("ホームページ")));
    // A control without an explanation leaves the box as it is.
    moveMouseOver(form.Command1);
    QVERIFY(form.Text1->toPlainText().contains(QStringLiteral("ホームページ")));
}

void MainFormTest::setButtonsLoadTheirImagesAndAMissingImageKeepsTheOldOne()
{
    AppFixture app;
    app.writeCompleteAccount();
    QVERIFY(app.start());
    MainForm& form = *app.mainForm;
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    QCOMPARE(form.Text11->text(), QStringLiteral("3"));
    QCOMPARE(imageName(form.Picture11), QStringLiteral("Button/3/4.jpg"));

    QVERIFY(QFile::remove(app.paths.buttonImage(2, 4)));
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    QCOMPARE(form.Text11->text(), QStringLiteral("2"));
    QCOMPARE(imageName(form.Picture3), QStringLiteral("Button/2/1.jpg"));
    QCOMPARE(imageName(form.Picture11), QStringLiteral("Button/3/4.jpg"));
    QVERIFY(!form.Picture11->picture().isNull());

    QVERIFY(form.Command1->font().family() != QStringLiteral("IPAPGothic"));
    form.close();
    QVERIFY(app.readData(QStringLiteral("ini.ini")).contains("NUMBER5=2\r\n"));
}

void MainFormTest::backgroundButtonUsesTheFileDialog()
{
    AppFixture app;
    app.writeCompleteAccount();
    QVERIFY(app.start());
    MainForm& form = *app.mainForm;
    QImage picture(20, 10, QImage::Format_RGB32);
    picture.fill(Qt::cyan);
    const QString file = app.root.file(QStringLiteral("bg.jpg"));
    QVERIFY(picture.save(file));

    app.ui.files.push_back(file);
    QTest::mouseClick(form.Command4, Qt::LeftButton);
    QCOMPARE(form.Text10->text(), file);
    QCOMPARE(form.Image1->pixmap().size(), QSize(20, 10));

    // Closing the dialog without a choice keeps the picture.
    app.ui.files.push_back(std::nullopt);
    QTest::mouseClick(form.Command4, Qt::LeftButton);
    QCOMPARE(form.Text10->text(), file);

    // A file that is no picture is refused with a message.
    app.root.write(QStringLiteral("notes.jpg"), "not a picture");
    app.ui.files.push_back(app.root.file(QStringLiteral("notes.jpg")));
    QTest::mouseClick(form.Command4, Qt::LeftButton);
    QCOMPARE(form.Text10->text(), file);
    QCOMPARE(app.ui.messages.size(), 1);
    QVERIFY(app.ui.unscripted.isEmpty());
}

void MainFormTest::homePageOpensInTheBrowser()
{
    AppFixture app;
    app.writeCompleteAccount();
    QVERIFY(app.start());
    QTest::mouseClick(app.mainForm->Picture13, Qt::LeftButton);
    QCOMPARE(app.ui.openedUrls.size(), 1);
    QCOMPARE(app.ui.openedUrls.first().scheme(), QStringLiteral("https"));
    QVERIFY(app.ui.messages.isEmpty());
    app.ui.urlOpens = false;
    QTest::mouseClick(app.mainForm->Picture13, Qt::LeftButton);
    QCOMPARE(app.ui.messages.size(), 1);
}

void MainFormTest::settingsButtonOpensTheIntervalDialog()
{
    AppFixture app;
    app.writeCompleteAccount();
    app.writeData(QStringLiteral("ini.ini"), "[EXEINI]\r\nNUMBER4=15\r\n");
    QVERIFY(app.start());
    MainForm& form = *app.mainForm;
    QVERIFY(!form.Check4->isChecked());
    QTest::mouseClick(form.Picture12, Qt::LeftButton);
    SetForm* set = app.windows->existing<SetForm>();
    QVERIFY(set && set->isVisible());
    QCOMPARE(set->Text2->text(), QStringLiteral("15"));
    QCOMPARE(form.Text7->text(), QStringLiteral("15"));
    QVERIFY(form.Check4->isChecked());
    const QImage red(app.paths.lampFile(true));
    QCOMPARE(form.Image3->pixmap().toImage().convertToFormat(red.format()), red);

    set->Text2->setText(QStringLiteral("abc")); // letters pass unchanged and count as 0
    QCOMPARE(form.Text7->text(), QStringLiteral("abc"));
    const QImage green(app.paths.lampFile(false));
    QCOMPARE(form.Image3->pixmap().toImage().convertToFormat(green.format()), green);

    set->Text2->setText(QStringLiteral(" 5 "));
    set->close(); // closing stores the trimmed value
    AppFixture::settle();
    QVERIFY(!app.windows->existing<SetForm>());
    QVERIFY(app.readData(QStringLiteral("ini.ini")).contains("NUMBER4=5\r\n"));

    // Its buttons open the account dialogs.
    QTest::mouseClick(form.Picture12, Qt::LeftButton);
    set = app.windows->existing<SetForm>();
    QCOMPARE(set->Text2->text(), QStringLiteral("5"));
    QTest::mouseClick(set->Command2, Qt::LeftButton);
    QVERIFY(app.windows->existing<OptionForm>() &&
            app.windows->existing<OptionForm>()->isVisible());
    QTest::mouseClick(set->Command1, Qt::LeftButton);
    QVERIFY(app.windows->existing<IdPassForm>()->isVisible());
}

void MainFormTest::closingWritesNoSettingOfTheOtherWindows()
{
    AppFixture app;
    app.writeCompleteAccount();
    app.writeData(QStringLiteral("ini.ini"), "[EXEINI]\r\nNUMBER4=3\r\n");
    QVERIFY(app.start());
    QTest::mouseClick(app.mainForm->Picture12, Qt::LeftButton);
    app.windows->existing<SetForm>()->Text2->setText(QStringLiteral(" 8 "));
    app.mainForm->close();
    // The interval is stored as typed by the main window, not trimmed by the
    // dialog's own closing step, which does not run.
    QVERIFY(app.readData(QStringLiteral("ini.ini")).contains("NUMBER4= 8 \r\n"));
    QVERIFY(!app.windows->existing<SetForm>());
}

void MainFormTest::theKeyboardAndAScreenReaderReachWhatIsInView()
{
    using namespace lumora::test;
    AppFixture app;
    app.writeCompleteAccount();
    QVERIFY(app.start());
    MainForm& form = *app.mainForm;
    QVERIFY(activate(&form));
    QCOMPARE(tabChain(form.Picture3),
             objectNames({"Picture3", "Picture4", "Picture5", "Command1", "Command2", "Command3",
                          "Command4", "Picture11", "Picture12", "Picture13", "Check1", "Text4",
                          "Text6", "Check2", "Text7"}));
    const QList<QWidget*> reached = accessibleWidgets(&form);
    for (QWidget* outside :
         std::initializer_list<QWidget*>{form.Text1, form.Text2, form.Text3, form.Text5, form.Text9,
                                         form.Text10, form.Text11, form.Check3}) {
        QVERIFY2(!reached.contains(outside), qPrintable(outside->objectName()));
    }
    QVERIFY2(designNamedControls(&form).isEmpty(),
             qPrintable(designNamedControls(&form).join(u',')));
    // Every control is named, the receive's progress bar too, captions as
    // they read and pictures by their role.
    const QStringList problems = lumora::test::nameProblems(
        &form, {{form.Picture4, "受信"},
                {form.Check2, "新着メール有りで、メールを見るを自動表示"},
                {form.Text7, "インターバル（分）"},
                {form.receiveProgressBar, "受信の進み具合"}});
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));

    // Enlarged to show them, the controls below the edge are the user's;
    // the working fields never are.
    form.resize(form.width(), ui::twips(4900));
    QVERIFY(accessibleWidgets(&form).contains(form.Check3));
    QVERIFY(!accessibleWidgets(&form).contains(form.Text10));
    QCOMPARE(QAccessible::queryAccessibleInterface(form.Check3)->text(QAccessible::Name),
             QStringLiteral("受信したメールをサーバーに残す"));
    QVERIFY(tabChain(form.Picture3).contains(QStringLiteral("Check3")));
    // A screen reader's Toggle changes the option as a click does: it is
    // written at once.
    doAccessibleAction(form.Check3, QAccessibleActionInterface::toggleAction());
    QVERIFY(app.readData(QStringLiteral("ini.ini")).contains("NUMBER3=1\r\n"));

    // The interval lamp's box shows what the settings set: nothing to toggle.
    QVERIFY(!accessibleActions(form.Check4).contains(QAccessibleActionInterface::toggleAction()));

    // Enter on a focused picture button is its click.
    form.Picture5->setFocus();
    QTest::keyClick(form.Picture5, Qt::Key_Return);
    QVERIFY(app.windows->window<TyakuForm>()->isVisible());
}

QTEST_MAIN(MainFormTest)
#include "main_form_test.moc"
