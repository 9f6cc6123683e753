#pragma once

// WriteForm "新規作成": writing and sending a new mail, with attachments,
// held mail, a mail to every address-book entry, greetings, the address pane
// and the editor commands the viewer has too.
//
// | control          | kind            | caption / content           | role                            |
// |------------------|-----------------|-----------------------------|---------------------------------|
// | Frame1           | frame           | the header area             | holds the fields below          |
// | Label2 (0, 1, 2) | labels          | "宛先", "件名", "首記例"    |                                 |
// | ToText           | line edit       |                             | recipient, sent as typed        |
// | SubjectText      | line edit       |                             | subject                         |
// | AttachText       | line edit       |                             | attached files, joined by ","   |
// | AttachCommand    | button          | "添付File"                  | the first attachment            |
// | Command9/10/16   | buttons         | "追加", "取り消し", "リスト" | more, none, show or hide List2  |
// | List2            | list, hidden    |                             | names of the attached files     |
// | Combo1           | combo box       |                             | greeting phrases                |
// | Check1           | check box       |                             | fortune (unchecked by a send)   |
// | Picture3         | picture         |                             |                                 |
// | rtfEd            | text editor     | "ＭＳ ゴシック"             | the body; its plain text is sent|
// | Command4/6       | buttons         | "   アドレス帳", "     サイズ（小）" | widen / narrow the window |
// | Command5/7       | buttons         | "     本文に貼付", "     宛先に貼付" | paste the clipboard      |
// | Command8         | button          | "　　絵・顔文字"            | the emoticon picker             |
// | Command17        | button          | "下書き"                    | shows or hides Picture7         |
// | Picture7         | panel           | Command13/14/15 "保存", "呼出", "削除" | held mail            |
// | Frame4           | frame           | Option2 "一括送信", Option1 "取消" | every address-book entry |
// | Command1         | button          | "送信"                      | send                            |
// | Command3         | button          | "    送信中止"              | close without sending           |
// | Label3, Label4   | labels          | "アドレス帳", "件数"        | over and under List1            |
// | List1            | list            |                             | address book or held mails      |
// | Text1            | line edit       |                             | rows of List1                   |
// | Text2            | line edit, hidden |                           | selection marker ("1")          |
// | Label7           | label           |                             | status line                     |
// | Text14           | text box        |                             | help pane                       |
// | Text4, Command2  | box, button     | "貼付け"                    | below the window (hidden mode)  |
// | tbToolBar        | toolbar         | New … Underline             | editor commands                 |
//
// Menus "ファイル(&F)" (mnew, mopen, mprint, mend) and "編集" (mall,
// matamajump, mbunmatujump, mcut, mcopy, mpaste). Closing the window keeps
// nothing of it: the next one starts from its load steps.

#include "compose/draft.h"
#include "compose/editor_commands.h"
#include "compose/mailto_link.h"
#include "compose/send_job.h"

#include <QHash>
#include <QList>
#include <QWidget>

#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTextEdit;
class QToolBar;

namespace lumora {

struct AppContext;
class AttachmentControls;
class BackgroundJob;

class WriteForm : public QWidget {
    Q_OBJECT
public:
    // The window's widths and the height of the hidden mode, in twips.
    static constexpr int kSmallWidth = 7100;
    static constexpr int kWideWidth = 9700;
    static constexpr int kHiddenModeHeight = 8955;

    explicit WriteForm(AppContext& context, QWidget* parent = nullptr);
    ~WriteForm() override;

    // The load steps: held-mail panel hidden, the greetings, the help pane
    // placed by the main window's option, the address book in List1.
    void load(bool explanationsShown);

    // The help text of a control, or an empty text.
    QString explanationFor(const QObject* control) const;
    // True while mails are being sent.
    bool sending() const;
    // True while mails are being sent or the held-mail file is written.
    bool busy() const;
    // Ends a send after the mail in hand and waits for it (the program ends).
    void stopSending();
    // The files the send will attach.
    QStringList attachments() const;
    // Puts text into the body at its caret, replacing what is selected there.
    void insertIntoBody(const QString& text);
    // Fills recipient, subject and body from a mailto: link, asking first
    // when a mail is being written; false when the window was left as it was.
    bool fillFromLink(const compose::MailtoLink& link);
    // The record number behind each row of List1.
    const QList<qint16>& recordIndex() const { return recordIndex_; }
    // True when the window holds something the user typed or added that was
    // neither sent nor held.
    bool holdsUnsentText() const;
    // Keeps that in the held-mail file without asking (the program ends and
    // nobody is there to ask); false when it could not be kept.
    bool holdUnsent();

    QFrame* Frame1;
    QList<QLabel*> Label2;
    QLineEdit* ToText;
    QLineEdit* SubjectText;
    QLineEdit* AttachText;
    QPushButton* AttachCommand;
    QPushButton* Command9;
    QPushButton* Command10;
    QPushButton* Command16;
    QListWidget* List2;
    QComboBox* Combo1;
    QCheckBox* Check1;
    QLabel* Picture3;
    QTextEdit* rtfEd;
    QPushButton* Command4;
    QPushButton* Command6;
    QPushButton* Command5;
    QPushButton* Command7;
    QPushButton* Command8;
    QPushButton* Command17;
    QFrame* Picture7;
    QPushButton* Command13;
    QPushButton* Command14;
    QPushButton* Command15;
    QGroupBox* Frame4;
    QRadioButton* Option2;
    QRadioButton* Option1;
    QPushButton* Command1;
    QPushButton* Command3;
    QLabel* Label3;
    QLabel* Label4;
    QListWidget* List1;
    QLineEdit* Text1;
    QLineEdit* Text2;
    QLabel* Label7;
    QPlainTextEdit* Text14;
    QLineEdit* Text4;
    QPushButton* Command2;
    QToolBar* tbToolBar;
    QMenuBar* menuBar;
    QMenu* mFile;
    QAction* mnew;
    QAction* mopen;
    QAction* mprint;
    QAction* mend;
    QMenu* medit;
    QAction* mall;
    QAction* matamajump;
    QAction* mbunmatujump;
    QAction* mcut;
    QAction* mcopy;
    QAction* mpaste;

Q_SIGNALS:
    // "　　絵・顔文字": the emoticon picker should open for this window.
    void emoticonsRequested();

private Q_SLOTS:
    void send();
    void stopOrClose();
    void sendProgress(int index, int count, const QString& recipient);
    void sendFinished(const lumora::compose::SendReport& report);
    void toolbarClicked(QAction* action);
    void showAddressPane();
    void narrow();
    void pasteIntoBody();
    void pasteIntoRecipient();
    void pasteHidden();
    void greetingChosen();
    void toggleDrafts();
    void hold();
    void recall();
    void deleteHeld();
    void listClicked();
    // List1's selection changed: the chosen row acts as a click on it does.
    void listRowSelected();
    void chooseBulk();
    void chooseSingle();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createHeader();
    void createSidePane();
    void createToolbar();
    void createMenus();
    QHash<QWidget*, QString> explanationTable() const;
    void nameControls();
    void connectSignals();
    void setWidthTwips(int width);
    // The address book's names in List1 (ListMode 0).
    void listAddressBook();
    // The held mails' subjects in List1 (a file that cannot be read is said).
    void listHeldMail();
    void applyGreeting();
    // Takes no input while mails go out or the held-mail file is written;
    // stoppable leaves "送信中止" on (a bulk send's rest can be stopped).
    void setBusy(bool on, bool stoppable = false);
    // The status line's text.
    void showStatus(const QString& text);
    void emptyAndClose();
    // While a send or a hold is still being finished: says so (the first
    // text while sending, the second while holding) and is true.
    bool saidBusy(const QString& whileSending, const QString& whileHolding);
    compose::Draft draft() const;
    // What the window holds now counts as given, not written (an empty
    // window, a held mail recalled, a link's mail).
    void takeAsStart();
    // Asks before what the user wrote is thrown away; true to go on.
    bool mayDiscard();
    void reportFailure(const QString& what, const QString& detail);
    // The mouse moved over a control, at position in it.
    void pointerOver(QObject* watched, const QPoint& position);
    void prepareKeyboard();

    AppContext& context_;
    QWidget* client_;
    std::unique_ptr<EditorCommands> editor_;
    AttachmentControls* attachments_ = nullptr;
    std::unique_ptr<compose::SendRunner> runner_;
    std::unique_ptr<BackgroundJob> job_;
    QList<qint16> recordIndex_;
    QHash<QWidget*, QString> explanations_;
    QList<QWidget*> quietControls_; // moving over these hides the help pane
    bool greetingTouched_ = false;
    compose::Draft start_;
    bool discardAgreed_ = false; // the user said to close without sending
    bool bulkSend_ = false;
    bool hiddenMode_ = false;
    // A mouse press on List1 is in hand, and it chose a new row.
    bool pressOnList_ = false;
    bool rowSelectedByPress_ = false;
    int normalHeight_ = 0;
};

} // namespace lumora
