#pragma once

// KaoForm "絵・顔文字": an editable page of emoticons and picture
// characters. The user marks a piece with the mouse and inserts it into the
// body of a new mail or of a reply; the page is read from Kao1.txt at every
// opening and written back at every closing.
//
// | control  | kind                 | caption / content            | role                          |
// |----------|----------------------|------------------------------|-------------------------------|
// | Kao1     | text box, scroll bar | the page                     | marked piece is inserted      |
// | Command1 | button               | "挿入（新規作成）"           | into the compose window's body |
// | Command2 | button               | "挿入（返事を書く）"         | into the reply window's body  |
// | Command3 | button               | "編集（貼付）"               | the clipboard into the page   |
// | Label1/2/3 | labels             | how to use the page          |                               |

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace lumora {

struct AppContext;

class KaoForm : public QWidget {
    Q_OBJECT
public:
    explicit KaoForm(AppContext& context, QWidget* parent = nullptr);

    // The load step: the page read from its file (a missing one is said and
    // gives an empty page).
    void load();
    // Writes the page back; false (and said) when it could not be written.
    bool savePage();

    QPlainTextEdit* Kao1;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;

Q_SIGNALS:
    // A marked piece, trimmed, for the compose window's body.
    void insertForCompose(const QString& text);
    // A marked piece, trimmed, for the reply window's body.
    void insertForReply(const QString& text);

private Q_SLOTS:
    void insertIntoCompose();
    void insertIntoReply();
    void pasteIntoPage();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void nameControls();
    void connectSignals();
    // Takes the marked piece through the clipboard and gives it back trimmed.
    QString takeMarkedPiece();

    AppContext& context_;
    QWidget* client_;
    // False while the page could not be read and has not been edited since:
    // closing then leaves the file as it is.
    bool writeBack_ = true;
};

} // namespace lumora
