#pragma once

// MainForm "ルモラ Ver 1.0": the program's home window. Closing it ends the
// program.
//
// | control     | kind           | caption / content       | role                               |
// |-------------|----------------|-------------------------|------------------------------------|
// | Picture3    | picture button | image 1 of the set      | new mail (compose window)          |
// | Picture4    | picture button | image 2                 | receive mail                       |
// | Picture5    | picture button | image 3                 | view received mail                 |
// | Picture11   | picture button | image 4                 | address book                       |
// | Picture12   | picture button | image 5                 | settings (SetForm)                 |
// | Picture13   | picture button | image 6                 | the maker's home page              |
// | Image1      | picture        | background              | between the two button columns     |
// | Command1-3  | buttons        | "Blue", "Red", "Green"  | apply button image set 1, 2, 3     |
// | Command4    | button         | "背景画"                | choose the background picture      |
// | Check1      | check box      | "説明表示"              | explanation option ("NUMBER")      |
// | Check2      | check box      | in panel Picture6       | auto-show option ("NUMBER2")       |
// | Check3      | check box      | "Check3"                | keep-on-server option ("NUMBER3")  |
// | Check4      | check box      | in panel Picture1       | interval check is set              |
// | Text4       | text box       | "　累積数"              | number of stored mails             |
// | Text6       | text box       | "新着数"                | mails found by the last receive    |
// | Text7/Text8 | text boxes     | minutes / "分"          | interval minutes, in Picture1      |
// | Image3      | picture        | Red.gif / Green.gif     | interval lamp                      |
// | Picture6    | panel          | auto-show label, Check2 |                                    |
// | Picture1    | panel          | "インターバルチェック"  | interval panel                     |
//
// Outside the designed area, seen when the window is enlarged:
//
// | control     | kind           | content                 | role                               |
// |-------------|----------------|-------------------------|------------------------------------|
// | Text1       | text box       |                         | explanation box; its number is the |
// |             |                |                         | interval check's minute count      |
// | Text5       | text box       | "新着情報" heading      |                                    |
// | Text3       | text box       |                         | "新着メール有り。" / "…無し。"     |
// | Text2       | text box       |                         | attachment search (receive)        |
// | Text9       | text box       |                         | seconds of the interval count      |
// | Text10      | text box       |                         | background picture path ("NAME")   |
// | Text11      | text box       |                         | button image set ("NUMBER5")       |

#include "mail/server_certificate.h"

#include <QElapsedTimer>
#include <QHash>
#include <QWidget>

#include <array>
#include <atomic>
#include <memory>
#include <optional>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace lumora {

struct AppContext;
class BackgroundJob;
class PictureButton;
class ReceiveRunner;
class Timer;
class Windows;

class MainForm : public QWidget {
    Q_OBJECT
public:
    MainForm(AppContext& context, Windows& windows, QWidget* parent = nullptr);
    ~MainForm() override;

    // The start-up steps: options, the received-mail file and its count, the
    // server file, the mail library, the account dialogs, the button set and
    // the background. Runs before the window is first shown.
    void load();

    // The designed client area, 4710 x 2790 twips.
    static QSize designedSize();

    // True while a receive cycle runs.
    bool receiving() const;

    // The explanation option (Check1): other windows place their explanation
    // boxes by it.
    bool explanationsShown() const;

    // The explanation shown for a control under the mouse, or an empty text.
    QString explanationFor(const QObject* control) const;

    PictureButton* Picture3;
    PictureButton* Picture4;
    PictureButton* Picture5;
    PictureButton* Picture11;
    PictureButton* Picture12;
    PictureButton* Picture13;
    QLabel* Image1;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QCheckBox* Check1;
    QCheckBox* Check2;
    QCheckBox* Check3;
    QCheckBox* Check4;
    QPlainTextEdit* Text1;
    QLineEdit* Text2;
    QLineEdit* Text3;
    QLineEdit* Text4;
    QLineEdit* Text5;
    QLineEdit* Text6;
    QLineEdit* Text7;
    QLineEdit* Text8;
    QLineEdit* Text9;
    QLineEdit* Text10;
    QLineEdit* Text11;
    QFrame* Picture6;
    QFrame* Picture1;
    QLabel* Image3;
    // Along the bottom edge while a receive runs.
    QProgressBar* receiveProgressBar;

Q_SIGNALS:
    // Shut-down has written the settings and ended the mail library; the
    // process should end now.
    void ended();
    // A received mail's texts as stored, for the viewer's fields.
    void mailReceived(const QString& subject, const QString& from, const QString& date,
                      const QString& body);
    // A receive cycle has ended and its report is on the window.
    void receiveFinished(int count);

public Q_SLOTS:
    void applyButtonSet(int set);
    // The viewer's row count changed: the cumulative count follows it.
    void setStoredCount(const QString& count);
    // Another window sets the explanation box (and so the minute count).
    void setExplanationText(const QString& text);
    // The interval text of the settings dialog has changed.
    void setIntervalText(const QString& text);

public Q_SLOTS:
    // The receive button: starts a receive cycle unless one runs.
    void receiveMail();
    // Ends the program as closing the window does, without waiting for a
    // person (the desktop session is ending): what cannot be saved is said
    // on the standard error stream.
    void endUnattended();

private Q_SLOTS:
    void newMail();
    void viewMail();
    void openAddressBook();
    void openSettings();
    void openHomePage();
    void chooseBackground();
    void explanationOptionChanged(bool checked);
    void keepOnServerChanged(bool checked);
    void intervalFieldChanged(const QString& text);
    void intervalTick();
    void secondTick();
    void receiveChecking();
    void receiveCredentialsRead(const QString& id, const QString& password);
    void receiveFailed(const QString& text);
    // A box about a receive, counted while it is open.
    void showReceiveBox(const QString& text, const QString& title);
    void receiveCertificateRefused(const lumora::ServerCertificate& certificate,
                                   const QString& text);
    void receiveNotice(const QString& text);
    void receiveProgress(int index, int count, qint64 bytesDone, qint64 bytesTotal);
    void receiveEnded(int count);
    void showReceivedMail(const QString& subject, const QString& from, const QString& date,
                          const QString& body);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void createControls();
    void createOutsideControls();
    // The controls outside the designed area are the user's only while the
    // window is large enough to show them.
    void showOutsideControlsInView();
    void prepareKeyboard();
    void nameControls();
    // Each control that has an explanation, with its text.
    QHash<QWidget*, QString> explanationTable() const;
    void connectSignals();
    void showDesignedPictures();
    void loadBackground(const QString& file);
    void shutDown();
    void startTimers();
    bool startReceive(bool fromInterval);
    double minuteCount() const;
    void reportSettingsFailure();
    // A desktop notice of mail stored by a receive while none of the
    // program's windows is active.
    void noticeNewMail(int count);
    void flushShownMail();
    // Brings the search index in step with mail stored while the viewer is
    // closed (the viewer does it while open).
    void keepIndexInStep();

    AppContext& context_;
    Windows& windows_;
    std::array<PictureButton*, 6> buttons_{};
    QHash<QWidget*, QString> explanations_;
    bool ended_ = false;
    std::unique_ptr<ReceiveRunner> receiver_;
    std::unique_ptr<Timer> timer1_; // the second counter
    std::unique_ptr<Timer> timer2_; // the 20 ms interval check
    bool intervalReceive_ = false;
    // Message boxes of a receive open now.
    int receiveBoxes_ = 0;
    // A certificate the receive just refused, to ask about when it has ended.
    std::optional<ServerCertificate> refusedCertificate_;
    bool unattended_ = false;
    std::unique_ptr<BackgroundJob> indexJob_;
    std::atomic_bool indexStop_{false};
    // The received mail waiting to be shown in the viewer's fields (subject,
    // sender, date, body), and when the last one was shown.
    static constexpr int kShownMailPaceMs = 100;
    std::optional<QStringList> shownMail_;
    QElapsedTimer shownPace_;
    // When the receive's progress was last drawn.
    static constexpr int kProgressPaceMs = 50;
    QElapsedTimer progressPace_;
};

} // namespace lumora
