#pragma once

// IdPassForm "ID,PASS": the POP3 user ID and password.
//
// | control        | kind      | caption / label             | role                          |
// |----------------|-----------|-----------------------------|-------------------------------|
// | IdText         | line edit | "ID"                        | user ID                       |
// | PassText       | line edit | "Password", shown as "*"    | password, input method off    |
// | Check1         | check box | "IDパスワードを保存する"      | store ID and password on OK   |
// | OKCommand      | button    | "OK"                        | take the values and close     |
// | CancelCommand  | button    | "Cancel"                    | close without a change        |
//
// Load fills the boxes from the account file; OK puts them into the account
// in memory and, with the save box checked, into the account file.

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace lumora {

struct AppContext;

class IdPassForm : public QWidget {
    Q_OBJECT
public:
    explicit IdPassForm(AppContext& context, QWidget* parent = nullptr);

    // Puts the values into the boxes, as the receive cycle does after reading
    // the account file afresh.
    void setCredentials(const QString& id, const QString& password);

    QLineEdit* IdText;
    QLineEdit* PassText;
    QCheckBox* Check1;
    QPushButton* OKCommand;
    QPushButton* CancelCommand;

private Q_SLOTS:
    void confirm();

private:
    void connectSignals();
    void load();

    AppContext& context_;
};

} // namespace lumora
