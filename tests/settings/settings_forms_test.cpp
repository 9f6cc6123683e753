#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "support/app_fixture.h"
#include "support/keyboard_walk.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

using namespace lumora;
using lumora::test::AppFixture;

class SettingsFormsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void serverDialogStoresAndTheNextStartReadsApop();
    void serverDialogCancelChangesNothing();
    void serverDialogSaysSoWhenTheFileCannotBeWritten();
    void idPassWithSaveCheckedStoresOwnerOnly();
    void idPassUncheckedKeepsTheStoredValues();
    void passwordBoxHidesItsTextAndHasNoInputMethod();
    void aPasswordTheFileCannotHoldIsRefusedWithAMessage();
    void serverNamesTheFileCannotHoldDoNotTakeEffect();
    void enterConfirmsAndEscapeCancelsTheDialogs();
};

void SettingsFormsTest::serverDialogStoresAndTheNextStartReadsApop()
{
    AppFixture app;
    QVERIFY(app.start());
    OptionForm* form = app.windows->existing<OptionForm>();
    QVERIFY(form && form->isVisible());
    QCOMPARE(form->windowTitle(), QStringLiteral("サーバー設定"));
    QVERIFY(form->Pop3Text->text().isEmpty());
    QTest::keyClicks(form->SmtpText, QStringLiteral("smtp.example.jp"));
    QTest::keyClicks(form->Pop3Text, QStringLiteral(" pop.example.jp "));
    form->MailText->setText(QStringLiteral("太郎 <taro@example.jp>"));
    form->ApopCheck->setChecked(true);
    QTest::mouseClick(form->OkCommand, Qt::LeftButton);
    AppFixture::settle();
    QVERIFY(!app.windows->existing<OptionForm>());                                 // closed
    QCOMPARE(app.context->account.Pop3Server, QStringLiteral(" pop.example.jp ")); // as typed
    QCOMPARE(app.context->account.ApopFlag, 1);
    QVERIFY(app.root.read(QStringLiteral("work/kurodo.ini"))
                .startsWith("SMTP=smtp.example.jp\r\nPOP3= pop"));
    app.mainForm->close();

    QVERIFY(AppFixture::restartIn(app));
    QCOMPARE(app.context->account.ApopFlag, 1);
    QCOMPARE(app.context->account.MailAddress, QStringLiteral("太郎 <taro@example.jp>"));
    QVERIFY(!app.windows->existing<OptionForm>()); // the account is set up now
    // Load fills the boxes from the account in memory.
    app.windows->show<OptionForm>();
    QVERIFY(app.windows->existing<OptionForm>()->ApopCheck->isChecked());
}

void SettingsFormsTest::serverDialogCancelChangesNothing()
{
    AppFixture app;
    QVERIFY(app.start());
    OptionForm* form = app.windows->existing<OptionForm>();
    form->Pop3Text->setText(QStringLiteral("pop.example.jp"));
    QTest::mouseClick(form->CancelCommand, Qt::LeftButton);
    QVERIFY(app.context->account.Pop3Server.isEmpty());
    QVERIFY(!app.root.exists(QStringLiteral("work/kurodo.ini")));
}

void SettingsFormsTest::serverDialogSaysSoWhenTheFileCannotBeWritten()
{
    AppFixture app;
    QVERIFY(app.start());
    // A folder where the server file should be makes the write fail.
    QVERIFY(QDir().mkpath(app.workFolder() + QStringLiteral("/kurodo.ini/x")));
    OptionForm* form = app.windows->existing<OptionForm>();
    form->Pop3Text->setText(QStringLiteral("pop.example.jp"));
    QTest::mouseClick(form->OkCommand, Qt::LeftButton);
    QCOMPARE(app.ui.messages.size(), 1);
    QVERIFY(app.windows->existing<OptionForm>()); // still open, to try again
    QCOMPARE(app.context->account.Pop3Server, QStringLiteral("pop.example.jp"));
}

void SettingsFormsTest::idPassWithSaveCheckedStoresOwnerOnly()
{
    AppFixture app;
    QVERIFY(app.start());
    IdPassForm* form = app.windows->existing<IdPassForm>();
    QVERIFY(form->isVisible());
    QVERIFY(!form->Check1->isChecked());
    form->IdText->setText(QStringLiteral("taro"));
    form->PassText->setText(QStringLiteral("ひみつ"));
    form->Check1->setChecked(true);
    QTest::mouseClick(form->OKCommand, Qt::LeftButton);
    AppFixture::settle();
    QVERIFY(!app.windows->existing<IdPassForm>());
    QCOMPARE(app.context->account.AccountId, QStringLiteral("taro"));
    QCOMPARE(app.context->account.AccountPass, QStringLiteral("ひみつ"));
    const QString file = app.dataFile(QStringLiteral("iniIdPass.ini"));
    QCOMPARE(account::readCredentials(file).password, QStringLiteral("ひみつ"));
    QVERIFY(app.readData(QStringLiteral("iniIdPass.ini")).contains("NAME3=1\r\n"));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
}

void SettingsFormsTest::idPassUncheckedKeepsTheStoredValues()
{
    AppFixture app;
    app.writeCompleteAccount();
    QVERIFY(app.start());
    app.windows->show<IdPassForm>();
    IdPassForm* form = app.windows->existing<IdPassForm>();
    QCOMPARE(form->IdText->text(), QStringLiteral("taro"));
    QCOMPARE(form->PassText->text(), QStringLiteral("secret"));
    QVERIFY(form->Check1->isChecked()); // the password is kept on disk
    form->IdText->setText(QStringLiteral("jiro"));
    form->Check1->setChecked(false);
    QTest::mouseClick(form->OKCommand, Qt::LeftButton);
    QCOMPARE(app.context->account.AccountId, QStringLiteral("jiro"));
    QVERIFY(app.context->account.credentialsForThisRun);
    // Not kept on disk: the ID stored before stays, the password goes.
    const auto stored = account::readCredentials(app.dataFile(QStringLiteral("iniIdPass.ini")));
    QCOMPARE(stored.id, QStringLiteral("taro"));
    QVERIFY(stored.password.isEmpty());
    QVERIFY(app.readData(QStringLiteral("iniIdPass.ini")).contains("NAME3=0\r\n"));
}

void SettingsFormsTest::passwordBoxHidesItsTextAndHasNoInputMethod()
{
    AppFixture app;
    QVERIFY(app.start());
    QLineEdit* pass = app.windows->existing<IdPassForm>()->PassText;
    QCOMPARE(pass->echoMode(), QLineEdit::Password);
    QVERIFY(!pass->testAttribute(Qt::WA_InputMethodEnabled));
    QVERIFY(pass->inputMethodHints() & Qt::ImhSensitiveData);
}

void SettingsFormsTest::aPasswordTheFileCannotHoldIsRefusedWithAMessage()
{
    AppFixture app;
    QVERIFY(app.start());
    IdPassForm* form = app.windows->existing<IdPassForm>();
    form->IdText->setText(QStringLiteral("taro"));
    form->PassText->setText(QStringLiteral("pässwörd"));
    form->Check1->setChecked(true);
    QTest::mouseClick(form->OKCommand, Qt::LeftButton);
    QCOMPARE(app.ui.messages.size(), 1);
    QVERIFY(app.ui.messages.first().text.contains(QStringLiteral("保存できない文字")));
    AppFixture::settle();
    QVERIFY(app.windows->existing<IdPassForm>()); // left open to correct
    QVERIFY(!app.readData(QStringLiteral("iniIdPass.ini")).contains("NAME2"));
    // Refused, the values serve nothing: the run keeps the ones it had.
    QVERIFY(app.context->account.AccountPass.isEmpty());
    QVERIFY(app.context->account.AccountId.isEmpty());
}

void SettingsFormsTest::serverNamesTheFileCannotHoldDoNotTakeEffect()
{
    AppFixture app;
    app.writeServerFile("SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=a@b.jp\r\nAPOP=0\r\n");
    QVERIFY(app.start());
    OptionForm* form = app.windows->show<OptionForm>();
    form->Pop3Text->setText(QStringLiteral("pop.例え😀.jp"));
    form->ApopCheck->setChecked(true);
    QTest::mouseClick(form->OkCommand, Qt::LeftButton);
    QCOMPARE(app.ui.messages.size(), 1);
    QVERIFY(app.ui.messages.first().text.contains(QStringLiteral("保存できない文字")));
    QCOMPARE(app.context->account.Pop3Server, QStringLiteral("pop.example.jp"));
    QCOMPARE(app.context->account.ApopFlag, qint16(0));
    // Cancel then leaves the account as the file has it.
    QTest::mouseClick(form->CancelCommand, Qt::LeftButton);
    QCOMPARE(app.context->account.Pop3Server, QStringLiteral("pop.example.jp"));
}

void SettingsFormsTest::enterConfirmsAndEscapeCancelsTheDialogs()
{
    using namespace lumora::test;
    AppFixture app;
    app.writeCompleteAccount();
    QVERIFY(app.start());
    // Escape is Cancel: nothing typed takes effect.
    app.windows->show<IdPassForm>();
    QPointer<IdPassForm> idPass = app.windows->existing<IdPassForm>();
    QVERIFY(activate(idPass));
    idPass->IdText->setText(QStringLiteral("saburo"));
    QTest::keyClick(idPass->IdText, Qt::Key_Escape);
    QTRY_VERIFY(!idPass || !idPass->isVisible());
    QVERIFY(app.context->account.AccountId != QStringLiteral("saburo"));
    // Enter in the password box is OK.
    app.windows->show<IdPassForm>();
    idPass = app.windows->existing<IdPassForm>();
    idPass->IdText->setText(QStringLiteral("jiro"));
    QTest::keyClick(idPass->PassText, Qt::Key_Return);
    QCOMPARE(app.context->account.AccountId, QStringLiteral("jiro"));

    app.windows->show<OptionForm>();
    QPointer<OptionForm> server = app.windows->existing<OptionForm>();
    QVERIFY(activate(server));
    server->SmtpText->setText(QStringLiteral("other.example.jp"));
    QTest::keyClick(server->SmtpText, Qt::Key_Escape);
    QTRY_VERIFY(!server || !server->isVisible());
    QVERIFY(app.context->account.SmtpServer != QStringLiteral("other.example.jp"));
}

QTEST_MAIN(SettingsFormsTest)
#include "settings_forms_test.moc"
