#include "settings/option_form.h"

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
namespace {

QLineEdit* labelledEdit(QWidget* parent, const QString& objectName, const QString& caption, int top)
{
    auto* label = new QLabel(caption, parent);
    ui::placeTwips(label, 240, top, 3600, 255);
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    label->setBuddy(edit);
    edit->setAccessibleName(ui::captionName(caption));
    ui::placeTwips(edit, 240, top + 270, 4200, 330);
    return edit;
}

} // namespace

OptionForm::OptionForm(AppContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), context_(context)
{
    setObjectName(QStringLiteral("OptionForm"));
    setWindowTitle(QStringLiteral("サーバー設定"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(ui::twips(4680), ui::twips(3120));

    SmtpText =
        labelledEdit(this, QStringLiteral("SmtpText"), QStringLiteral("SMTPサーバー名(&S)"), 180);
    Pop3Text =
        labelledEdit(this, QStringLiteral("Pop3Text"), QStringLiteral("POP3サーバー名(&P)"), 840);
    MailText =
        labelledEdit(this, QStringLiteral("MailText"), QStringLiteral("メールアドレス(&M)"), 1500);
    ApopCheck = new QCheckBox(QStringLiteral("APOP を使用する(&A)"), this);
    ApopCheck->setObjectName(QStringLiteral("ApopCheck"));
    ui::placeTwips(ApopCheck, 240, 2190, 3000, 300);
    OkCommand = new QPushButton(QStringLiteral("設定"), this);
    OkCommand->setObjectName(QStringLiteral("OkCommand"));
    OkCommand->setDefault(true);
    ui::placeTwips(OkCommand, 2040, 2580, 1140, 390);
    CancelCommand = new QPushButton(QStringLiteral("中止"), this);
    CancelCommand->setObjectName(QStringLiteral("CancelCommand"));
    ui::placeTwips(CancelCommand, 3300, 2580, 1140, 390);

    connectSignals();
    ui::nameCaptionedControls(this);
    load();
}

void OptionForm::connectSignals()
{
    connect(OkCommand, &QPushButton::clicked, this, &OptionForm::confirm);
    connect(CancelCommand, &QPushButton::clicked, this, &QWidget::close);
    // Enter in a box is the default button's, as in any dialog; Escape is
    // 中止's.
    for (QLineEdit* box : {SmtpText, Pop3Text, MailText}) {
        connect(box, &QLineEdit::returnPressed, OkCommand, &QPushButton::click);
    }
    ui::prepareKeyboard(this, ui::EscapeKey::Closes);
}

void OptionForm::load()
{
    const AccountSettings& account = context_.account;
    SmtpText->setText(account.SmtpServer);
    Pop3Text->setText(account.Pop3Server);
    MailText->setText(account.MailAddress);
    ApopCheck->setChecked(account.ApopFlag != 0);
}

void OptionForm::confirm()
{
    AccountSettings typed = context_.account;
    typed.SmtpServer = SmtpText->text();
    typed.Pop3Server = Pop3Text->text();
    typed.MailAddress = MailText->text();
    typed.ApopFlag = ApopCheck->isChecked() ? 1 : 0;
    const Status status = account::writeServerFile(AppPaths::serverFile(), typed);
    if (status.error() == StoreError::BadArgument) {
        // Refused values serve nobody: the receives and sends of this run
        // go on with the settings the file holds.
        context_.ui.inform(this,
                           QStringLiteral("サーバー名かメールアドレスに、保存できない文字が"
                                          "含まれています。"),
                           {}, MessageIcon::Warning);
        return;
    }
    context_.account = typed;
    if (!status.ok()) {
        // The new values already serve this run; say that they will not
        // survive it, and keep the dialog open so the user can try again.
        context_.ui.inform(this,
                           QStringLiteral("サーバー設定をファイルに保存できませんでした。\n") +
                               AppPaths::serverFile(),
                           {}, MessageIcon::Warning);
        return;
    }
    close();
}

} // namespace lumora
