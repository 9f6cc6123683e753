#pragma once

// TyakuForm "着信履歴": the received-mail viewer. Lists every stored mail,
// shows the clicked one, deletes, searches and saves mail as text; the body
// is an editor with the commands the compose window has.
//
// | control       | kind            | caption / content            | role                          |
// |---------------|-----------------|------------------------------|-------------------------------|
// | Picture1      | panel           |                              | holds the toolbar             |
// | tbToolBar     | toolbar         | New … Underline              | editor commands               |
// | Command2      | button, in bar  | "TextQuickSave"              | quick save as text            |
// | Picture4      | panel, in bar   | Label2 "検索文字"            |                               |
// | Text1         | line edit       |                              | search text                   |
// | Command3      | button          | "    一件削除"               | delete the selected mail      |
// | Command4      | button          | "    アドレス帳登録"         | register the sender           |
// | Command5      | button          | "   返事を書く"              | reply                         |
// | Command6      | button          | "   全件削除"                | delete all mail               |
// | Label4, Text2 | label, box      | "件数"                       | number of rows                |
// | Text5         | box, off-screen |                              | selection marker ("1")        |
// | MailListView  | list            | "Subject", "From", "Date"    | one row per stored mail       |
// | Text7/8/9     | line edits      |                              | subject, sender, date shown   |
// | rtfEd         | text editor     |                              | body shown; the editor        |
// | Text4         | text box        |                              | explanation box               |
// | StatusBar1    | status bar      |                              | layout anchor                 |
// | Command1      | button          | "コピー（Subject/from/Data）" | copy the copy field           |
// | Text6         | line edit       |                              | copy field                    |
// | lstLst        | list, hidden    |                              | the editor's auxiliary list   |
// | lstWk, rtfWk, Text3 | hidden    |                              | work controls                 |
//
// Menus "ファイル(&F)" (mnew, mopen, msave, mprint, then moriginal "元のメールを
// 表示", msaveoriginal "元のメールを保存…", mexport "メールを書き出す…",
// mimport "メールを読み込む…", then mend) and "編集(&E)"
// (mall, matamajump, mbunmatujump, mkensaku, mtugikensaku, mcut, mcopy,
// mpaste). The window keeps no mails of its own: the list is a model over
// the received-mail file, and every mail shown is read from it again.

#include "compose/editor_commands.h"
#include "store/record_owner.h"
#include "viewer/mail_order.h"
#include "viewer/mail_text.h"
#include "viewer/viewer_layout.h"

#include <QHash>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QModelIndex;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTextEdit;
class QToolBar;
class QTimer;
class QTreeView;

namespace lumora {

class OriginalForm;

struct AppContext;
class BackgroundJob;
class MailListModel;

class TyakuForm : public QWidget {
    Q_OBJECT
public:
    explicit TyakuForm(AppContext& context, QWidget* parent = nullptr);
    ~TyakuForm() override;

    // The load steps: the explanation box placed by the main window's
    // option, the list's columns and painted header, the body moved into
    // place, the current document loaded.
    void load(bool explanationsShown);

    // The explanation of a control, or an empty text.
    QString explanationFor(const QObject* control) const;

    // True while a deletion rewrites the file.
    bool rewriting() const;
    // True while mail is imported or exported; stopExchange() asks it to
    // stop after the mail in hand, and exchangeEnded() follows once the
    // window has said how far it got.
    bool exchanging() const { return exchanging_; }
    void stopExchange() { exchangeCancel_ = true; }

    // A test holds or stops a deletion at its steps through this.
    CompactHook deletionHook;

    QFrame* Picture1;
    QToolBar* tbToolBar;
    QPushButton* Command2;
    QFrame* Picture4;
    QLabel* Label2;
    QLineEdit* Text1;
    // Search across every stored mail (beside 件数).
    QLineEdit* SearchText;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QPushButton* Command6;
    QLabel* Label4;
    QLineEdit* Text2;
    QLineEdit* Text5;
    QTreeView* MailListView;
    QLineEdit* Text7;
    QLineEdit* Text8;
    QLineEdit* Text9;
    QTextEdit* rtfEd;
    QPlainTextEdit* Text4;
    QStatusBar* StatusBar1;
    QPushButton* Command1;
    QLineEdit* Text6;
    QListWidget* lstLst;
    QListWidget* lstWk;
    QTextEdit* rtfWk;
    QLineEdit* Text3;
    QMenuBar* menuBar;
    QMenu* mFile;
    QAction* mnew;
    QAction* mopen;
    QAction* msave;
    QAction* mprint;
    QAction* moriginal;
    QAction* msaveoriginal;
    QAction* mexport;
    QAction* mimport;
    QAction* mend;
    QMenu* medit;
    QAction* mall;
    QAction* matamajump;
    QAction* mbunmatujump;
    QAction* mkensaku;
    QAction* mtugikensaku;
    QAction* mcut;
    QAction* mcopy;
    QAction* mpaste;
    // "表示(&V)": the list's order, as a click on a column heading sets it.
    QMenu* mview;
    QAction* msortsubject;
    QAction* msortsender;
    QAction* msortdate;
    QAction* mrecordorder;

Q_SIGNALS:
    // The row count (Text2) changed: the main window's cumulative count follows.
    void countChanged(const QString& count);
    // Delete all restarts the main window's minute count: its explanation box
    // gets this text.
    void explanationReset(const QString& text);
    // "    アドレス帳登録": the shown sender, for the address book's address box.
    void senderToRegister(const QString& sender);
    // "   返事を書く": the reply window's subject, recipient and body.
    // The thread header makes the reply part of the mail's thread (empty
    // for a mail without an original).
    void replyRequested(const QString& subject, const QString& to, const QString& body,
                        const QString& threadHeader);
    // An import or export has ended.
    void exchangeEnded();

public Q_SLOTS:
    // The main window's view button: shows the window and lists the file.
    void openAndFill();
    // A received mail's texts, as the receive shows them.
    void showReceivedMail(const QString& subject, const QString& from, const QString& date,
                          const QString& body);
    // A receive has ended: rows for the mails it stored join the list.
    void receiveEnded();
    // Lays the controls out for the window's size.
    void layOut();

private Q_SLOTS:
    // The list's selection changed: the selected row is chosen.
    void rowSelected();
    // A click on a row, or Enter on it.
    void rowChosen(const QModelIndex& index);
    void deleteSelected();
    void deleteAll();
    void search();
    void findNext();
    void quickSave();
    void saveAs();
    void copyHeaderField();
    void registerSender();
    void startReply();
    void toolbarClicked(QAction* action);
    void showOriginal();
    void saveOriginal();
    void exportMail();
    void importMail();
    void bodyChanged();
    // A click on a column heading (0 subject, 1 sender, 2 date): up, down,
    // then the record order.
    void sortClicked(int column);
    // What SearchText holds changed: the list shows the mails that match.
    void searchTextChanged();
    void searchAllMail();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createToolbar();
    void createMenus();
    QHash<QWidget*, QString> explanationTable() const;
    void nameControls();
    void prepareKeyboard();
    void connectSignals();
    void place(QWidget* control, const viewer::TwipsRect& rect);
    void loadCurrentDocument();
    // Lists the file and shows its last mail.
    void fillRows(QList<int> order = {});
    // Shows the mail of a row (from 0); false when it cannot be read.
    bool showRow(int row);
    void clearFields();
    void passBodyThroughClipboard();
    int selectedRow() const;
    // A row chosen by the user: sets the selection marker and shows its mail.
    void chooseRow(int row);
    // Moves the focus to the search box (Ctrl+F).
    void focusSearch();
    // Says that the search text is not in the body.
    void sayNotFound();
    bool consumeMarker();
    // Runs a rewrite of the received-mail file off the window's thread.
    void rewriteFile(std::function<Status()> work, std::function<void(const Status&)> done);
    void reportFailure(const QString& what, const QString& detail);
    // The status bar's message (none: empty), with a longer form for its
    // tool tip and a screen reader.
    void showStatus(const QString& text, const QString& detail = {});
    QString headerBlockNow() const;
    void selectMatch(const viewer::BodySearch::Match& match);
    // Puts the list in sortOrder_ (off the window's thread) and shows it on
    // the heading.
    void applySort();
    void reorder(QList<int> records);
    // Changes which rows the list shows (order, filter) without the change
    // counting as the user's choice; the mail shown stays current.
    void changeRows(const std::function<void()>& change);
    // Brings the search index in step with the file, off the window's
    // thread, with its progress in the status bar.
    void updateIndex();
    void showMatches(const std::optional<QList<int>>& records);
    void pointerOver(QObject* watched);
    // The shown mail's original, when it has one.
    std::optional<QByteArray> shownOriginal() const;
    // Says in the status bar what the shown record lost against its original.
    void noteLoss();

    AppContext& context_;
    std::unique_ptr<EditorCommands> editor_;
    std::unique_ptr<MailListModel> model_;
    viewer::ViewerLayout layout_;
    viewer::BodySearch search_;
    QWidget* client_;
    QList<QLabel*> actionIcons_;
    QHash<QWidget*, QString> explanations_;
    std::unique_ptr<BackgroundJob> job_;
    // Reads the shown mail's original for noteLoss().
    std::unique_ptr<BackgroundJob> lossJob_;
    // Reads the list's cells and sorts them.
    std::unique_ptr<BackgroundJob> sortJob_;
    viewer::SortOrder sortOrder_;
    // Counts the listings: a sort made for an older one is made again.
    int listings_ = 0;
    std::unique_ptr<BackgroundJob> searchJob_;
    std::unique_ptr<BackgroundJob> indexJob_;
    std::atomic_bool indexStop_{false};
    bool indexAgain_ = false;
    QTimer* searchDelay_ = nullptr;
    bool lossAgain_ = false;
    OriginalForm* original_ = nullptr;
    bool exchanging_ = false; // an import or export runs
    std::atomic_bool exchangeCancel_{false};
    bool filled_ = false;
    // The list is being filled or refreshed: its selection changes are not
    // the user's.
    bool listing_ = false;
    // The mail in the fields, when it was shown from a row of the list: what
    // a deletion deletes and whose original the menu shows.
    ChosenRecord shown_;
};

} // namespace lumora
