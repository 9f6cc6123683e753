#pragma once

// FriendForm "アドレス帳": the address book's entries, registering and
// deleting them, and business-card addresses.
//
// | control      | kind       | caption / label          | role                                 |
// |--------------|------------|--------------------------|--------------------------------------|
// | Text4        | line edit  | "メールアドレス"          | the address, at most 60 characters   |
// | Text2        | line edit  | "名前（名称）"            | the name, at most 30 characters      |
// | Text50       | line edit  | "名刺"                   | the name for a business card         |
// | Text3        | line edit  | "登録件数"                | the number of entries                |
// | Command1     | button     | "貼付"                   | paste the clipboard into Text4       |
// | Command5     | button     | "貼付"                   | paste the clipboard into Text2       |
// | Command38    | button     | "名刺挿入"                | make a business-card address         |
// | Command3     | button     | "登録"                   | register a new entry                 |
// | Command4     | button     | "削除"                   | delete the selected entry            |
// | Command2     | button     | outside the window       | reload the list                      |
// | MailListView | list       | "Address", "Name"        | the entries; row n is record n       |
// | Label7       | label      |                          | status line                          |
// | Text5        | text box   |                          | explanation of the button under the  |
// |              |            |                          | mouse                                |
//
// The list's context menu: mimportaddresses "アドレス帳を読み込む…" (vCard or
// CSV) and mexportaddresses "アドレス帳を書き出す…" (vCard 4.0 or CSV).
//
// The window keeps no entries of its own: every handler reads the file, does
// its work and, where it changed something, reloads the list.

#include "store/record_owner.h"

#include <QHash>
#include <QWidget>

#include <memory>
#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace lumora {

struct AppContext;
class AddressBook;

class FriendForm : public QWidget {
    Q_OBJECT
public:
    explicit FriendForm(AppContext& context, QWidget* parent = nullptr);
    ~FriendForm() override;

    // The load steps: the explanation box placed by the main window's
    // explanation option, the list's columns and painted header, the status
    // line cleared and the list read.
    void load(bool explanationsShown);

    // Puts an address into Text4, cut to the box's limit (used by the viewer
    // to register a mail's sender).
    void setAddress(const QString& address);

    // The explanation of a button, or an empty text.
    QString explanationFor(const QObject* control) const;

    QLineEdit* Text4;
    QLineEdit* Text2;
    QLineEdit* Text50;
    QLineEdit* Text3;
    QPushButton* Command1;
    QPushButton* Command5;
    QPushButton* Command38;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command2;
    QTreeWidget* MailListView;
    QLabel* Label7;
    QPlainTextEdit* Text5;
    QAction* mimportaddresses;
    QAction* mexportaddresses;

public Q_SLOTS:
    void reloadList();

private Q_SLOTS:
    void pasteAddress();
    void pasteName();
    void insertBusinessCard();
    void registerEntry();
    void deleteEntry();
    void selectEntry();
    void importAddresses();
    void exportAddresses();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    // The list's context menu for other programs' address books.
    void createExchangeActions();
    void connectSignals();
    void nameControls();
    void prepareKeyboard();
    // The record number of the list's selected row, or 0 when no row is
    // selected.
    qint64 selectedRecord() const;
    // Puts entry n's name and address, trimmed, into the boxes; false (after
    // telling the user) when it cannot be read.
    // Reads entry n into the boxes: the record read, or nothing (said).
    std::optional<ChosenRecord> showEntry(qint64 n);
    void reportFailure(const QString& what);

    AppContext& context_;
    std::unique_ptr<AddressBook> book_;
    QHash<QWidget*, QString> explanations_;
};

} // namespace lumora
