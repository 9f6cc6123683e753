#include "settings/id_pass_form.h"

#include "mail/mail_library.h"
#include "settings/account_settings.h"
#include "ui/accessibility.h"
#include "ui/app_context.h"
#include "ui/geometry.h"
#include "ui/keyboard.h"
#include "ui/ui_services.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace lumora {

IdPassForm::IdPassForm(AppContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window), context_(context)
{
    setObjectName(QStringLiteral("IdPassForm"));
    setWindowTitle(QStringLiteral("ID,PASS"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(ui::twips(4200), ui::twips(2520));

    auto* idLabel = new QLabel(QStringLiteral("ID"), this);
    ui::placeTwips(idLabel, 240, 240, 1080, 300);
    IdText = new QLineEdit(this);
    IdText->setObjectName(QStringLiteral("IdText"));
    ui::placeTwips(IdText, 1320, 210, 2640, 330);
    idLabel->setBuddy(IdText);
    IdText->setAccessibleName(QStringLiteral("ID"));

    auto* passLabel = new QLabel(QStringLiteral("Password"), this);
    ui::placeTwips(passLabel, 240, 720, 1080, 300);
    PassText = new QLineEdit(this);
    PassText->setObjectName(QStringLiteral("PassText"));
    PassText->setEchoMode(QLineEdit::Password);
    // No input method for a password: no conversion window, no prediction.
    PassText->setAttribute(Qt::WA_InputMethodEnabled, false);
    PassText->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData |
                                  Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
    ui::placeTwips(PassText, 1320, 690, 2640, 330);
    passLabel->setBuddy(PassText);
    PassText->setAccessibleName(QStringLiteral("Password"));

    Check1 = new QCheckBox(this);
    Check1->setObjectName(QStringLiteral("Check1"));
    ui::placeTwips(Check1, 1320, 1200, 255, 255);
    auto* saveLabel = new QLabel(QStringLiteral("IDパスワードを保存する"), this);
    saveLabel->setBuddy(Check1);
    Check1->setAccessibleName(QStringLiteral("IDパスワードを保存する"));
    ui::placeTwips(saveLabel, 1620, 1170, 2400, 300);

    OKCommand = new QPushButton(QStringLiteral("OK"), this);
    OKCommand->setObjectName(QStringLiteral("OKCommand"));
    OKCommand->setDefault(true);
    ui::placeTwips(OKCommand, 1320, 1740, 1200, 390);
    CancelCommand = new QPushButton(QStringLiteral("Cancel"), this);
    CancelCommand->setObjectName(QStringLiteral("CancelCommand"));
    ui::placeTwips(CancelCommand, 2700, 1740, 1200, 390);

    connectSignals();
    ui::nameCaptionedControls(this);
    load();
}

void IdPassForm::connectSignals()
{
    connect(OKCommand, &QPushButton::clicked, this, &IdPassForm::confirm);
    connect(CancelCommand, &QPushButton::clicked, this, &QWidget::close);
    // Enter in a box is the default button's, as in any dialog; Escape is
    // Cancel's.
    connect(IdText, &QLineEdit::returnPressed, OKCommand, &QPushButton::click);
    connect(PassText, &QLineEdit::returnPressed, OKCommand, &QPushButton::click);
    ui::prepareKeyboard(this, ui::EscapeKey::Closes);
}

void IdPassForm::load()
{
    if (context_.account.credentialsForThisRun) {
        // What the user confirmed earlier in this run, not kept on disk.
        setCredentials(context_.account.AccountId, context_.account.AccountPass);
        Check1->setChecked(false);
        return;
    }
    const account::Credentials stored = account::readCredentials(context_.paths.accountFile());
    setCredentials(stored.id, stored.password);
    // The box tells whether the password is kept on disk.
    Check1->setChecked(!stored.password.isEmpty());
}

void IdPassForm::setCredentials(const QString& id, const QString& password)
{
    IdText->setText(id);
    PassText->setText(password);
}

void IdPassForm::confirm()
{
    const Status status = account::writeCredentials(
        context_.paths.accountFile(), {IdText->text(), PassText->text()}, Check1->isChecked());
    if (status.error() == StoreError::BadArgument) {
        // Refused, they are used nowhere: the run goes on with the old ones.
        context_.ui.inform(this,
                           QStringLiteral("IDかパスワードに、保存できない文字が含まれています。\n"
                                          "半角英数字と日本語の文字だけを使ってください。"),
                           {}, MessageIcon::Warning);
        return;
    }
    context_.account.AccountId = IdText->text();
    context_.account.AccountPass = PassText->text();
    // Sending logs in with the same account.
    context_.mail.NMailSetAccount(IdText->text(), PassText->text());
    if (!status.ok()) {
        context_.ui.inform(this,
                           QStringLiteral("IDとパスワードをファイルに保存できませんでした。\n") +
                               context_.paths.accountFile(),
                           {}, MessageIcon::Warning);
        return;
    }
    // Unchecked, the values typed are the ones the receives of this run use.
    context_.account.credentialsForThisRun = !Check1->isChecked();
    close();
}

} // namespace lumora
