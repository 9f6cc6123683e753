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

QLineEdit* textBox(QWidget* parent, const QString& name, const QString& text = {})
{
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(name);
    return box;
}

QLabel* label(QWidget* parent, const QString& text, int l, int t, int w, int h)
{
    auto* lab = new QLabel(text, parent);
    ui::placeTwips(lab, l, t, w, h);
    return lab;
}

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
    showDesignedPictures();
    windows_.setMainForm(this);
}

MainForm::~MainForm()
{
    if (receiver_) {
        receiver_->stopAndWait();
    }
}

QSize MainForm::designedSize()
{
    return {ui::twips(4710), ui::twips(2790)};
}

void MainForm::createControls()
{
    // The background lies under the two button columns' inner edges.
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setScaledContents(true);
    ui::placeTwips(Image1, 720, 0, 2415, 1785);

    const std::array<const char*, 6> names = {"Picture3",  "Picture4",  "Picture5",
                                              "Picture11", "Picture12", "Picture13"};
    for (size_t i = 0; i < buttons_.size(); ++i) {
        auto* button = new PictureButton(this);
        button->setObjectName(QString::fromLatin1(names[i]));
        const int column = i < 3 ? 0 : 3120;
        ui::placeTwips(button, column, static_cast<int>(i % 3) * 720, 735, 735);
        buttons_[i] = button;
    }
    Picture3 = buttons_[0];
    Picture4 = buttons_[1];
    Picture5 = buttons_[2];
    Picture11 = buttons_[3];
    Picture12 = buttons_[4];
    Picture13 = buttons_[5];

    const QFont antiqua = ui::fontFamily(QStringLiteral("Book Antiqua"), 9);
    const auto setButton = [&](const QString& name, const QString& caption, int left, int width) {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(name);
        ui::placeTwips(button, left, 1800, width, 330);
        return button;
    };
    Command1 = setButton(QStringLiteral("Command1"), QStringLiteral("Blue"), 735, 555);
    Command2 = setButton(QStringLiteral("Command2"), QStringLiteral("Red"), 1305, 555);
    Command3 = setButton(QStringLiteral("Command3"), QStringLiteral("Green"), 1875, 555);
    for (QPushButton* b : {Command1, Command2, Command3}) {
        b->setFont(antiqua);
    }
    Command4 = setButton(QStringLiteral("Command4"), QStringLiteral("背景画"), 2445, 675);

    // The narrow right edge takes a smaller face.
    const QFont small = ui::fontFamily(QStringLiteral("ＭＳ Ｐゴシック"), 7.5);
    Check1 = new QCheckBox(QStringLiteral("説明表示"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setFont(small);
    Check1->setStyleSheet(QStringLiteral("QCheckBox { spacing: 1px; }"));
    ui::placeTwips(Check1, 3870, 60, 840, 300);
    label(this, QStringLiteral("　累積数"), 3900, 480, 810, 240);
    Text4 = textBox(this, QStringLiteral("Text4"));
    Text4->setReadOnly(true);
    Text4->setAlignment(Qt::AlignRight);
    ui::placeTwips(Text4, 3930, 720, 750, 330);
    label(this, QStringLiteral("新着数"), 3900, 1140, 810, 240);
    Text6 = textBox(this, QStringLiteral("Text6"));
    Text6->setReadOnly(true);
    Text6->setAlignment(Qt::AlignRight);
    ui::placeTwips(Text6, 3930, 1380, 750, 330);

    Picture6 = new QFrame(this);
    Picture6->setObjectName(QStringLiteral("Picture6"));
    Picture6->setFrameShape(QFrame::StyledPanel);
    ui::placeTwips(Picture6, 0, 2190, 2295, 585);
    auto* autoShow = label(Picture6, QStringLiteral("新着メール有りで、メールを見るを自動表示"), 60,
                           45, 1860, 495);
    autoShow->setWordWrap(true);
    autoShow->setFont(small);
    Check2 = new QCheckBox(Picture6);
    Check2->setObjectName(QStringLiteral("Check2"));
    ui::placeTwips(Check2, 1980, 165, 255, 255);

    Picture1 = new QFrame(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameShape(QFrame::StyledPanel);
    ui::placeTwips(Picture1, 2340, 2190, 2370, 585);
    label(Picture1, QStringLiteral("インターバルチェック"), 60, 45, 2250, 240);
    Check4 = new QCheckBox(Picture1);
    Check4->setObjectName(QStringLiteral("Check4"));
    // An indicator only: the settings dialog sets it.
    Check4->setAttribute(Qt::WA_TransparentForMouseEvents);
    Check4->setFocusPolicy(Qt::NoFocus);
    ui::placeTwips(Check4, 60, 300, 255, 255);
    Text7 = textBox(Picture1, QStringLiteral("Text7"));
    Text7->setReadOnly(true);
    Text7->setAlignment(Qt::AlignRight);
    ui::placeTwips(Text7, 360, 285, 705, 270);
    Text8 = textBox(Picture1, QStringLiteral("Text8"), QStringLiteral("分"));
    Text8->setReadOnly(true);
    Text8->setFrame(false);
    ui::placeTwips(Text8, 1080, 285, 330, 270);
    Image3 = new QLabel(Picture1);
    Image3->setObjectName(QStringLiteral("Image3"));
    Image3->setScaledContents(true);
    ui::placeTwips(Image3, 1560, 285, 255, 255);

    receiveProgressBar = new QProgressBar(this);
    receiveProgressBar->setObjectName(QStringLiteral("receiveProgressBar"));
    receiveProgressBar->setAccessibleName(QStringLiteral("受信の進み具合"));
    receiveProgressBar->setTextVisible(false);
    receiveProgressBar->setRange(0, 1000);
    receiveProgressBar->setVisible(false);
    receiveProgressBar->setGeometry(0, ui::twips(2790) - 4, ui::twips(4710), 4);

    // Pictures and buttons lie over the background.
    for (PictureButton* b : buttons_) {
        b->raise();
    }
}

void MainForm::createOutsideControls()
{
    Text5 = textBox(this, QStringLiteral("Text5"), QStringLiteral("　　　　　　新　着　情　報"));
    Text5->setReadOnly(true);
    ui::placeTwips(Text5, 0, 2880, 4710, 300);
    Text3 = textBox(this, QStringLiteral("Text3"));
    Text3->setReadOnly(true);
    ui::placeTwips(Text3, 0, 3210, 2355, 300);
    label(this, QStringLiteral("着信数（累積）"), 2400, 3240, 1200, 270);
    Check3 = new QCheckBox(QStringLiteral("Check3"), this);
    Check3->setObjectName(QStringLiteral("Check3"));
    ui::placeTwips(Check3, 3600, 3210, 1110, 300);

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    ui::placeTwips(Text1, 0, 3570, 4710, 900);

    Text2 = textBox(this, QStringLiteral("Text2"));
    ui::placeTwips(Text2, 0, 4530, 1155, 300);
    Text9 = textBox(this, QStringLiteral("Text9"));
    ui::placeTwips(Text9, 1185, 4530, 1155, 300);
    Text10 = textBox(this, QStringLiteral("Text10"));
    ui::placeTwips(Text10, 2370, 4530, 1155, 300);
    Text11 = textBox(this, QStringLiteral("Text11"));
    ui::placeTwips(Text11, 3555, 4530, 1155, 300);
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

    receiver_ = std::make_unique<ReceiveRunner>(context_.mail, context_.paths);
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

void MainForm::load()
{
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

void MainForm::showDesignedPictures()
{
    for (size_t i = 0; i < buttons_.size(); ++i) {
        buttons_[i]->setPicture(QPixmap(QStringLiteral(":/design/%1.png").arg(i + 1)));
    }
    Image1->setPixmap(QPixmap(QStringLiteral(":/design/background.png")));
    Image3->setPixmap(QPixmap(context_.paths.lampFile(false)));
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

bool MainForm::startReceive(bool fromInterval)
{
    if (receiving()) {
        return false; // one cycle at a time
    }
    // A deletion or an import in hand is no reason to refuse: the receive
    // writes each mail when the received-mail file's turn comes to it.
    ReceiveSettings settings;
    settings.buffer = &context_.recordBuffer;
    settings.pop3Server = context_.account.Pop3Server;
    settings.apopFlag = context_.account.ApopFlag;
    settings.keepOnServer = Check3->isChecked();
    if (context_.account.credentialsForThisRun) {
        settings.credentials =
            account::Credentials{context_.account.AccountId, context_.account.AccountPass};
    }
    if (!receiver_->start(settings)) {
        return false; // one cycle at a time
    }
    intervalReceive_ = fromInterval;
    return true;
}

void MainForm::receiveChecking()
{
    Text1->setPlainText(QStringLiteral("メールのチェックをしています。"));
}

void MainForm::receiveCredentialsRead(const QString& id, const QString& password)
{
    windows_.window<IdPassForm>()->setCredentials(id, password);
    context_.account.AccountId = id;
    context_.account.AccountPass = password;
}

void MainForm::receiveFailed(const QString& text)
{
    showReceiveBox(text, QStringLiteral("エラー"));
}

void MainForm::showReceiveBox(const QString& text, const QString& title)
{
    if (ended_) {
        return; // nobody reads it: the program is ending
    }
    // While it is open the interval check starts no receive, so boxes of a
    // failing server never stack up.
    ++receiveBoxes_;
    context_.ui.inform(this, text, title);
    --receiveBoxes_;
}

void MainForm::receiveCertificateRefused(const ServerCertificate& certificate, const QString& text)
{
    if (intervalReceive_) {
        // Nobody asked for this receive: nobody is asked to trust anything.
        receiveFailed(text);
        return;
    }
    refusedCertificate_ = certificate;
}

void MainForm::receiveNotice(const QString& text)
{
    showReceiveBox(text, {});
}

void MainForm::receiveProgress(int index, int count, qint64 bytesDone, qint64 bytesTotal)
{
    // Inside the window at its designed size: the bar along the bottom edge
    // and "3/300" where the new-mail count will stand.
    receiveProgressBar->setValue(bytesTotal > 0 ? static_cast<int>(bytesDone * 1000 / bytesTotal)
                                                : 0);
    receiveProgressBar->setVisible(true);
    Text6->setText(QStringLiteral("%1/%2").arg(index).arg(count));
}

void MainForm::showReceivedMail(const QString& subject, const QString& from, const QString& date,
                                const QString& body)
{
    windows_.window<TyakuForm>()->showReceivedMail(subject, from, date, body);
    Q_EMIT mailReceived(subject, from, date, body);
}

void MainForm::setStoredCount(const QString& count)
{
    Text4->setText(count);
}

void MainForm::setExplanationText(const QString& text)
{
    Text1->setPlainText(text);
}

void MainForm::receiveEnded(int count)
{
    receiveProgressBar->setVisible(false);
    // The cumulative count is the file's, whether the viewer is open or not.
    Text4->setText(QString::number(mailFile(context_.paths.receivedFile()).wholeCount()));
    if (TyakuForm* viewer = windows_.existing<TyakuForm>()) {
        viewer->receiveEnded();
    }
    Text3->setText(count >= 1 ? QStringLiteral("新着メール有り。")
                              : QStringLiteral("新着メール無し。"));
    // A failed log-in's code is no count of mails.
    Text6->setText(QString::number(std::max(count, 0)));
    if (intervalReceive_) {
        Text1->setPlainText(QStringLiteral("0"));
        intervalReceive_ = false;
    }
    if (count == MailLibrary::kLoginRefused) {
        // The user can mend the ID or password at once.
        windows_.show<IdPassForm>();
    } else if (count >= 1 && Check2->isChecked()) {
        viewMail();
    }
    Q_EMIT receiveFinished(count);
    if (const std::optional<ServerCertificate> certificate =
            std::exchange(refusedCertificate_, {})) {
        // Declined, the receive has simply failed; trusted, it is made again.
        if (ui::offerCertificateTrust(context_.ui, context_.mail, this, *certificate)) {
            startReceive(false);
        }
    }
}

void MainForm::startTimers()
{
    timer1_ = context_.clock.createTimer();
    timer1_->setHandler([this] { secondTick(); });
    timer2_ = context_.clock.createTimer();
    timer2_->setHandler([this] { intervalTick(); });
    timer2_->setInterval(20);
}

double MainForm::minuteCount() const
{
    return text::leadingNumber(Text1->toPlainText());
}

void MainForm::intervalTick()
{
    const double minutes = text::leadingNumber(windows_.window<SetForm>()->Text2->text());
    if (minutes == 0) {
        timer1_->setInterval(0);
        Text9->setText(QStringLiteral("0"));
        return;
    }
    if (minutes < 0) {
        return;
    }
    timer1_->setInterval(1000);
    // The receive runs by itself; the counting waits for it as it would for
    // a receive that held the window. A tick while a receive's box is open
    // is skipped.
    if (!receiving() && receiveBoxes_ == 0 && minuteCount() == minutes) {
        startReceive(true);
    }
}

void MainForm::secondTick()
{
    if (receiving()) {
        return;
    }
    const double minutes =
        text::roundHalfEven(text::leadingNumber(windows_.window<SetForm>()->Text2->text()));
    if (minuteCount() == minutes) {
        Text1->setPlainText(QStringLiteral("0"));
    }
    const double seconds = text::leadingNumber(Text9->text());
    if (seconds >= 60) {
        Text9->setText(QStringLiteral("0"));
        Text1->setPlainText(QString::number(minuteCount() + 1));
    } else {
        Text9->setText(QString::number(seconds + 1));
    }
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
