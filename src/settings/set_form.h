#pragma once

// SetForm "設定": the interval of the automatic mail check and the way to
// the two account dialogs.
//
// | control   | kind      | caption                       | role                              |
// |-----------|-----------|-------------------------------|-----------------------------------|
// | Label5    | label     | "インターバルメールチェック"     | heading                           |
// | Text2     | line edit |                               | interval in minutes, as typed     |
// | Label2    | label     | "分"                          | unit                              |
// | Label3    | label     | how the interval works        | explanation                       |
// | Command1  | button    | "ID/PASS"                     | open the ID and password dialog   |
// | Command2  | button    | "POPサーバー"                 | open the server dialog            |
//
// Text2 is the live home of the interval: the main window reads it, and every
// change of it is passed on through intervalTextChanged. Load reads
// "NUMBER4"; closing stores Text2 trimmed.

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace lumora {

struct AppContext;

class SetForm : public QWidget {
    Q_OBJECT
public:
    explicit SetForm(AppContext& context, QWidget* parent = nullptr);

    // Runs the load step: reads "NUMBER4" into Text2. Separate from the
    // constructor so that whoever creates the window can listen to the change
    // it makes.
    void load();

    QLabel* Label5;
    QLineEdit* Text2;
    QLabel* Label2;
    QLabel* Label3;
    QPushButton* Command1;
    QPushButton* Command2;

Q_SIGNALS:
    void intervalTextChanged(const QString& text);
    void idPassRequested();
    void serverRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void connectSignals();

    AppContext& context_;
};

} // namespace lumora
