#pragma once

// BackForm "返事を書く": the answer to a received mail. The viewer fills the
// recipient, the subject and the body; the user edits, may paste new text
// above the received one and attach files, and sends it to the one recipient.
//
// | control       | kind           | caption / content    | role                              |
// |---------------|----------------|----------------------|-----------------------------------|
// | Label1/2/3    | labels         | "宛先", "題名", "添付File" | before the three boxes       |
// | ToText        | line edit      |                      | recipient, sent as typed          |
// | SubjectText   | line edit      |                      | subject                           |
// | AttachText    | line edit      |                      | attached files, joined by ","     |
// | AttachCommand | button         | "添付"               | the first attachment              |
// | Command9      | button         | "追加"               | a further attachment              |
// | Command10     | button         | "取り消し"           | drop every attachment             |
// | List2         | list, hidden   |                      | names of the attached files       |
// | BodyText      | text editor    | "ＭＳ Ｐゴシック"    | the body; its plain text is sent  |
// | Command2      | button         | "    送信"           | send                              |
// | Command3      | button         | "     送信中止"      | close without sending             |
// | Command4      | button         | "     本文に貼付"    | the clipboard above the received text |
// | StatusBar1    | status bar     |                      | what a send in hand is doing      |
//
// Closing the window keeps nothing of it: the next one starts from its load.

#include "compose/draft.h"
#include "compose/send_job.h"

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStatusBar;
class QTextEdit;

namespace lumora {

struct AppContext;
class AttachmentControls;

class BackForm : public QWidget {
    Q_OBJECT
public:
    explicit BackForm(AppContext& context, QWidget* parent = nullptr);
    ~BackForm() override;

    // The load step: the attachment box at its first width, no list shown.
    void load();

    // What the viewer's reply command fills in; the attachments stay. The
    // thread header (In-Reply-To and References of the mail answered, or
    // empty) goes with the reply's send.
    // When the window holds a reply the user wrote and did not send, asks
    // first; false when the user keeps it (nothing is filled in).
    bool fillReply(const QString& subject, const QString& to, const QString& body,
                   const QString& threadHeader = {});
    // Puts text into the body at its caret, replacing what is selected there.
    void insertIntoBody(const QString& text);

    // True while the reply is being sent.
    bool sending() const;
    // Waits for a send in hand (the program ends).
    void waitForSend();
    // The files the send will attach.
    QStringList attachments() const;
    // True when the window holds something the user typed or added that was
    // not sent.
    bool holdsUnsentText() const;
    // Keeps that in the held-mail file without asking (the program ends and
    // nobody is there to ask); false when it could not be kept.
    bool holdUnsent();

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLineEdit* ToText;
    QLineEdit* SubjectText;
    QLineEdit* AttachText;
    QPushButton* AttachCommand;
    QPushButton* Command9;
    QPushButton* Command10;
    QListWidget* List2;
    QTextEdit* BodyText;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QStatusBar* StatusBar1;

private Q_SLOTS:
    void send();
    void sendFinished(const lumora::compose::SendReport& report);
    void pasteAboveReceived();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void createControls();
    void nameControls();
    void connectSignals();
    void layOut();
    void setBusy(bool on);
    compose::Draft draft() const;

    AppContext& context_;
    QWidget* client_;
    AttachmentControls* attachments_ = nullptr;
    std::unique_ptr<compose::SendRunner> runner_;
    QString threadHeader_;
    compose::Draft start_; // the reply as the viewer filled it in
};

} // namespace lumora
