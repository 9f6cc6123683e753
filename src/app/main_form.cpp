#include "app/main_form.h"

#include "addressbook/friend_form.h"
#include "app/windows.h"
#include "compose/write_form.h"
#include "emoticons/kao_form.h"
#include "mail/mail_library.h"
#include "mail/receive_runner.h"
#include "reply/back_form.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "store/background_job.h"
#include "store/numeric_text.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "ui/accessibility.h"
#include "ui/app_context.h"
#include "ui/certificate_box.h"
#include "ui/clock.h"
#include "ui/geometry.h"
#include "ui/list_header.h"
#include "ui/picture_button.h"
#include "ui/ui_services.h"
#include "viewer/tyaku_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace lumora {
namespace {

const QUrl kHomePage(QStringLiteral("https://www.lumora-mail.jp/"));
// How long the end of the program waits for a receive to finish its mail.
constexpr int kReceiveGraceMilliseconds = 1500;
const QString kTitle = QStringLiteral("ルモラ Ver 1.0");

} // namespace

MainForm::MainForm(AppContext& context, Windows& windows, QWidget* parent)
    : QWidget(parent), context_(context), windows_(windows)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(kTitle);
    setFont(ui::fontFamily(QStringLiteral("ＭＳ Ｐゴシック"), 9));
    resize(designedSize());
    createControls();
    createOutsideControls();
    connectSignals();
    nameControls();
    prepareKeyboard();
    showDesignedPictures();
    windows_.setMainForm(this);
}

MainForm::~MainForm()
{
    indexStop_ = true; // the index keeps what it has; the next run goes on
    if (receiver_) {
        receiver_->stopAndWait();
    }
}

QSize MainForm::designedSize()
{
    return {ui::twips(4710), ui::twips(2790)};
}

void MainForm::connectSignals()
{
    connect(Picture3, &PictureButton::clicked, this, &MainForm::newMail);
    connect(Picture4, &PictureButton::clicked, this, &MainForm::receiveMail);
    connect(Picture5, &PictureButton::clicked, this, &MainForm::viewMail);
    connect(Picture11, &PictureButton::clicked, this, &MainForm::openAddressBook);
    connect(Picture12, &PictureButton::clicked, this, &MainForm::openSettings);
    connect(Picture13, &PictureButton::clicked, this, &MainForm::openHomePage);
    connect(Command1, &QPushButton::clicked, this, [this] { applyButtonSet(1); });
    connect(Command2, &QPushButton::clicked, this, [this] { applyButtonSet(2); });
    connect(Command3, &QPushButton::clicked, this, [this] { applyButtonSet(3); });
    connect(Command4, &QPushButton::clicked, this, &MainForm::chooseBackground);
    connect(Check1, &QCheckBox::toggled, this, &MainForm::explanationOptionChanged);
    connect(Check3, &QCheckBox::toggled, this, &MainForm::keepOnServerChanged);
    connect(Text7, &QLineEdit::textChanged, this, &MainForm::intervalFieldChanged);

    receiver_ =
        std::make_unique<ReceiveRunner>(context_.mail, context_.paths, context_.receiveProgram);
    connect(receiver_.get(), &ReceiveRunner::checking, this, &MainForm::receiveChecking);
    connect(receiver_.get(), &ReceiveRunner::credentialsRead, this,
            &MainForm::receiveCredentialsRead);
    connect(receiver_.get(), &ReceiveRunner::credentialsMissing, this,
            [this] { windows_.show<IdPassForm>(); });
    connect(receiver_.get(), &ReceiveRunner::failed, this, &MainForm::receiveFailed);
    connect(receiver_.get(), &ReceiveRunner::certificateRefused, this,
            &MainForm::receiveCertificateRefused);
    connect(receiver_.get(), &ReceiveRunner::notice, this, &MainForm::receiveNotice);
    connect(receiver_.get(), &ReceiveRunner::progress, this, &MainForm::receiveProgress);
    connect(receiver_.get(), &ReceiveRunner::mailShown, this, &MainForm::showReceivedMail);
    connect(receiver_.get(), &ReceiveRunner::finished, this, &MainForm::receiveEnded);

    // Explanations follow the mouse over the controls that have one.
    explanations_ = explanationTable();
    ui::followMouse(explanations_, this);
}

QString MainForm::explanationFor(const QObject* control) const
{
    return ui::explanationOf(explanations_, control);
}

bool MainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove) {
        const QString text = explanationFor(watched);
        if (!text.isEmpty()) {
            Text1->setPlainText(text);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    showOutsideControlsInView();
}

void MainForm::load()
{
    // The lamp is a file of the application folder, in place from here on.
    Image3->setPixmap(QPixmap(context_.paths.lampFile(false)));
    const AppSettings settings = context_.settings();
    const auto restoreOption = [&](QCheckBox* box, IniKey key) {
        const int value = settings.readInt(key);
        if (value == 1) {
            box->setChecked(true);
        } else if (value == 0) {
            box->setChecked(false);
        }
    };
    restoreOption(Check1, IniKey::Explanations);
    restoreOption(Check2, IniKey::AutoShow);

    const RecordFile received = mailFile(context_.paths.receivedFile());
    (void)received.ensureExists(); // a failure shows as a count of 0 and surfaces on receive
    Text4->setText(QString::number(received.roundedCount()));

    account::readServerFile(AppPaths::serverFile(), context_.account);
    context_.mail.NMailInitializeWinSock();
    context_.mail.NMailSetOption(1, 8192);
    if (context_.account.Pop3Server.isEmpty()) {
        windows_.show<OptionForm>();
    }
    IdPassForm* idPass = windows_.window<IdPassForm>();
    context_.mail.NMailSetAccount(idPass->IdText->text(), idPass->PassText->text());
    if (idPass->IdText->text().isEmpty() || idPass->PassText->text().isEmpty()) {
        windows_.show<IdPassForm>();
    }

    restoreOption(Check3, IniKey::KeepOnServer);

    const int set = settings.readInt(IniKey::ButtonSet);
    if (set >= 1 && set <= 3) {
        applyButtonSet(set);
    }
    const QString background = settings.readString(IniKey::Background);
    if (!background.isEmpty()) {
        loadBackground(background);
    }
    startTimers();
}

void MainForm::applyButtonSet(int set)
{
    // A picture file that is missing or unreadable leaves that button as it
    // was, so a damaged set never leaves a blank button.
    for (size_t i = 0; i < buttons_.size(); ++i) {
        buttons_[i]->loadPicture(context_.paths.buttonImage(set, static_cast<int>(i) + 1));
    }
    Text11->setText(QString::number(set));
}

void MainForm::loadBackground(const QString& file)
{
    QPixmap picture;
    if (picture.load(file)) {
        Image1->setPixmap(picture);
    }
    // The path is kept even when the picture cannot be shown now (a folder on
    // a disk that is not mounted), so it is not lost at shut-down.
    Text10->setText(file);
}

void MainForm::chooseBackground()
{
    const auto chosen = context_.ui.openFileName(
        this, QStringLiteral("背景画"), QFileInfo(Text10->text()).absolutePath(),
        QStringLiteral("画像ファイル (*.jpg *.jpeg *.gif *.bmp *.png);;すべてのファイル (*)"));
    if (!chosen) {
        return; // closed without a choice: the picture stays
    }
    QPixmap picture;
    if (!picture.load(*chosen)) {
        context_.ui.inform(this, QStringLiteral("この画像は表示できません。\n") + *chosen, {},
                           MessageIcon::Warning);
        return;
    }
    Image1->setPixmap(picture);
    Text10->setText(*chosen);
}

void MainForm::explanationOptionChanged(bool checked)
{
    if (!checked) {
        Text1->setVisible(false);
        Picture6->setVisible(true);
    }
}

void MainForm::keepOnServerChanged(bool checked)
{
    if (!context_.settings().writeFlag(IniKey::KeepOnServer, checked).ok()) {
        reportSettingsFailure();
    }
}

void MainForm::setIntervalText(const QString& text)
{
    Text7->setText(text);
    Check4->setChecked(true);
}

void MainForm::intervalFieldChanged(const QString& text)
{
    const bool on = text::leadingNumber(text) > 0;
    Image3->setPixmap(QPixmap(context_.paths.lampFile(on)));
}

void MainForm::newMail()
{
    windows_.show<WriteForm>();
}

void MainForm::receiveMail()
{
    startReceive(false);
}

bool MainForm::receiving() const
{
    return receiver_->running();
}

void MainForm::viewMail()
{
    windows_.window<TyakuForm>()->openAndFill();
}

void MainForm::openAddressBook()
{
    windows_.show<FriendForm>();
}

bool MainForm::explanationsShown() const
{
    return Check1->isChecked();
}

void MainForm::openSettings()
{
    windows_.show<SetForm>();
}

void MainForm::openHomePage()
{
    if (!context_.ui.openUrl(kHomePage)) {
        context_.ui.inform(this,
                           QStringLiteral("ブラウザを開けませんでした。\n") + kHomePage.toString(),
                           {}, MessageIcon::Warning);
    }
}

void MainForm::reportSettingsFailure()
{
    const QString text =
        QStringLiteral("設定をファイルに保存できませんでした。\n") + context_.paths.settingsFile();
    if (unattended_) {
        // Nobody is there to click a box (the session is ending): say it
        // where a log keeps it, and end.
        std::fprintf(stderr, "lumora: %s\n", text.toLocal8Bit().constData());
        return;
    }
    context_.ui.inform(this, text, {}, MessageIcon::Warning);
}

void MainForm::endUnattended()
{
    unattended_ = true;
    // A question still open (a box's own event loop runs under the window
    // that asked) is answered with its safe answer first; the windows go
    // only once the code that asked has seen the answer.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        QTimer::singleShot(0, this, &MainForm::endUnattended);
        return;
    }
    close();
}

void MainForm::closeEvent(QCloseEvent* event)
{
    // Ending while mails go out leaves the rest unsent: the user decides.
    const WriteForm* compose = windows_.existing<WriteForm>();
    const BackForm* reply = windows_.existing<BackForm>();
    const bool asking = !ended_ && !unattended_;
    if (asking && compose && compose->sending() &&
        !context_.ui.ask(this,
                         QStringLiteral("メールを送信中です。残りの送信を中止して終了しますか？"
                                        "（送信中のメールは最後まで送信されます）"),
                         QStringLiteral("確認"))) {
        event->ignore();
        return;
    }
    if (asking && reply && reply->sending() &&
        !context_.ui.ask(this,
                         QStringLiteral("返事を送信中です。送信が終わるのを待って終了しますか？"),
                         QStringLiteral("確認"))) {
        event->ignore();
        return;
    }
    // Mail the user wrote and did not send is not thrown away unasked.
    const bool unsent = (compose && !compose->sending() && compose->holdsUnsentText()) ||
                        (reply && !reply->sending() && reply->holdsUnsentText());
    if (asking && unsent &&
        !context_.ui.askBeforeLosing(this, QStringLiteral("送信していないメールがあります。"
                                                          "書いた内容を破棄して終了しますか？"))) {
        event->ignore();
        return;
    }
    // An import or export stops after the mail in hand; the program ends
    // once it has.
    if (TyakuForm* viewer = windows_.existing<TyakuForm>(); viewer && viewer->exchanging()) {
        if (asking && !context_.ui.ask(this,
                                       QStringLiteral("メールの読み込みか書き出しをしています。"
                                                      "中止して終了しますか？"),
                                       QStringLiteral("確認"))) {
            event->ignore();
            return;
        }
        viewer->stopExchange();
        connect(viewer, &TyakuForm::exchangeEnded, this, &QWidget::close,
                static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
        event->ignore();
        return;
    }
    shutDown();
    event->accept();
}

void MainForm::shutDown()
{
    if (ended_) {
        return;
    }
    ended_ = true;
    indexStop_ = true;
    if (timer1_) {
        timer1_->setInterval(0);
        timer2_->setInterval(0);
    }
    // The viewer's list gets its own header painting back.
    if (TyakuForm* viewer = windows_.existing<TyakuForm>()) {
        ui::removePaintedHeader(viewer->MailListView);
    }
    // The settings first: whatever happens while the receive ends, they are
    // kept.
    const QString interval = windows_.window<SetForm>()->Text2->text();
    const auto flag = [](const QCheckBox* box) {
        return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    };
    const Status status = context_.settings().write({
        {IniKey::Explanations, flag(Check1)},
        {IniKey::AutoShow, flag(Check2)},
        {IniKey::Background, text::trimSpaces(Text10->text())},
        {IniKey::IntervalMinutes, interval},
        {IniKey::ButtonSet, Text11->text()},
    });
    if (!status.ok()) {
        reportSettingsFailure();
    }
    // A receive finishes the mail in hand; one stalled on a silent server is
    // given up (its mails stay on the server) instead of holding the end.
    receiver_->endWithin(kReceiveGraceMilliseconds);
    if (WriteForm* compose = windows_.existing<WriteForm>()) {
        compose->stopSending(); // before the library ends
        // Ended with nobody to ask (the session ends): an unsent mail is
        // kept among the held mails instead of being thrown away.
        if (unattended_ && !compose->holdUnsent()) {
            std::fprintf(stderr, "lumora: 書きかけのメールを保存できませんでした。\n");
        }
    }
    if (BackForm* reply = windows_.existing<BackForm>()) {
        reply->waitForSend();
        if (unattended_ && !reply->holdUnsent()) {
            std::fprintf(stderr, "lumora: 書きかけの返事を保存できませんでした。\n");
        }
    }
    // The emoticon page open in the picker is kept, as closing the picker keeps it.
    if (KaoForm* picker = windows_.existing<KaoForm>()) {
        picker->savePage();
    }
    context_.mail.NMailEndWinSock();
    windows_.discardAll();
    Q_EMIT ended();
}

} // namespace lumora
