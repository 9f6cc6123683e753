#include "settings/set_form.h"

#include "store/text_codec.h"
#include "ui/accessibility.h"
#include "ui/app_context.h"
#include "ui/controls.h"
#include "ui/geometry.h"
#include "ui/keyboard.h"
#include "ui/ui_services.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace lumora {

SetForm::SetForm(AppContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window), context_(context)
{
    setObjectName(QStringLiteral("SetForm"));
    setWindowTitle(QStringLiteral("設定"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(ui::twips(4800), ui::twips(3000));

    Label5 = new QLabel(QStringLiteral("インターバルメールチェック"), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    QFont heading = ui::fontFamily(QStringLiteral("ＭＳ Ｐゴシック"), 11);
    heading.setBold(true);
    Label5->setFont(heading);
    ui::placeTwips(Label5, 240, 180, 4320, 330);

    Text2 = ui::lineEdit(this, "Text2", 240, 600, 1200, 330);
    Label2 = ui::label(this, "Label2", QStringLiteral("分"), 1500, 630, 400, 300);

    Label3 = new QLabel(
        QStringLiteral("０以上の数字を入力すると、その間隔で自動的にメールチェックを行います。"
                       "チェックの都度手動で行う場合は０にしておいて下さい。（単位は分です。）"),
        this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setWordWrap(true);
    ui::placeTwips(Label3, 240, 1020, 4320, 1050);

    Text2->setAccessibleName(QStringLiteral("インターバル（分）"));
    Text2->setAccessibleDescription(Label3->text());

    Command1 = ui::pushButton(this, "Command1", QStringLiteral("ID/PASS"), 240, 2280, 1800, 450);
    Command2 =
        ui::pushButton(this, "Command2", QStringLiteral("POPサーバー"), 2760, 2280, 1800, 450);

    connectSignals();
    ui::nameCaptionedControls(this);
}

void SetForm::connectSignals()
{
    connect(Text2, &QLineEdit::textChanged, this, &SetForm::intervalTextChanged);
    connect(Command1, &QPushButton::clicked, this, &SetForm::idPassRequested);
    connect(Command2, &QPushButton::clicked, this, &SetForm::serverRequested);
    ui::prepareKeyboard(this, ui::EscapeKey::Closes);
}

void SetForm::load()
{
    const int minutes = context_.settings().readInt(IniKey::IntervalMinutes);
    Text2->setText(QString::number(minutes));
}

void SetForm::closeEvent(QCloseEvent* event)
{
    const Status status =
        context_.settings().write(IniKey::IntervalMinutes, text::trimSpaces(Text2->text()));
    if (!status.ok()) {
        context_.ui.inform(this,
                           QStringLiteral("設定をファイルに保存できませんでした。\n") +
                               context_.paths.settingsFile(),
                           {}, MessageIcon::Warning);
    }
    event->accept();
}

} // namespace lumora
