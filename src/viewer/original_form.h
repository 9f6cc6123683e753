#pragma once

// OriginalForm "元のメール": a received mail as its original has it, every
// header that matters, the whole body and the names of its files; read only.
//
// | control     | kind        | caption / content | role                      |
// |-------------|-------------|-------------------|---------------------------|
// | txtOriginal | text box    |                   | the whole mail, read only |
// | cmdClose    | button      | "閉じる"           | closes the window         |

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

namespace lumora {

class OriginalForm : public QWidget {
    Q_OBJECT
public:
    explicit OriginalForm(QWidget* parent = nullptr);

    // Shows the text under the mail's subject as the window's title.
    void showMail(const QString& subject, const QString& text);

    QPlainTextEdit* txtOriginal;
    QPushButton* cmdClose;
};

} // namespace lumora
