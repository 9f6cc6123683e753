#include "viewer/original_form.h"

#include "ui/keyboard.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumora {

OriginalForm::OriginalForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("OriginalForm"));
    setWindowTitle(QStringLiteral("元のメール"));
    setAccessibleName(QStringLiteral("元のメール"));
    txtOriginal = new QPlainTextEdit(this);
    txtOriginal->setObjectName(QStringLiteral("txtOriginal"));
    txtOriginal->setReadOnly(true);
    txtOriginal->setAccessibleName(QStringLiteral("元のメール"));
    txtOriginal->setAccessibleDescription(
        QStringLiteral("受信したときのままのメールを、すべてのヘッダーと本文の全文で表示します。"));
    cmdClose = new QPushButton(QStringLiteral("閉じる"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setAccessibleName(QStringLiteral("閉じる"));
    cmdClose->setAccessibleDescription(QStringLiteral("この画面を閉じます。"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(txtOriginal);
    layout->addLayout(buttons);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
    // The text is read only: Tab moves on to the button.
    txtOriginal->setTabChangesFocus(true);
    ui::prepareKeyboard(this, ui::EscapeKey::Closes);
    resize(640, 560);
}

void OriginalForm::showMail(const QString& subject, const QString& text)
{
    setWindowTitle(subject.isEmpty() ? QStringLiteral("元のメール")
                                     : QStringLiteral("元のメール - ") + subject);
    txtOriginal->setPlainText(text);
    txtOriginal->moveCursor(QTextCursor::Start);
}

} // namespace lumora
