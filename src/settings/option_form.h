#pragma once

// OptionForm "サーバー設定": the servers, the user's address and APOP.
//
// | control        | kind      | caption                  | role                       |
// |----------------|-----------|--------------------------|----------------------------|
// | SmtpText       | line edit | "SMTPサーバー名(&S)"      | SMTP server name           |
// | Pop3Text       | line edit | "POP3サーバー名(&P)"      | POP3 server name           |
// | MailText       | line edit | "メールアドレス(&M)"      | the user's own address     |
// | ApopCheck      | check box | "APOP を使用する(&A)"     | log in with APOP           |
// | OkCommand      | button    | "設定"                   | store and close            |
// | CancelCommand  | button    | "中止"                   | close without a change     |
//
// Kept above every other window while open. Load fills the boxes from the
// account in memory; OK copies them into it and writes the server file.

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace lumora {

struct AppContext;

class OptionForm : public QWidget {
    Q_OBJECT
public:
    explicit OptionForm(AppContext& context, QWidget* parent = nullptr);

    QLineEdit* SmtpText;
    QLineEdit* Pop3Text;
    QLineEdit* MailText;
    QCheckBox* ApopCheck;
    QPushButton* OkCommand;
    QPushButton* CancelCommand;

private Q_SLOTS:
    void confirm();

private:
    void connectSignals();
    void load();

    AppContext& context_;
};

} // namespace lumora
