#include "reply/back_form.h"

#include "compose/attachment_controls.h"
#include "compose/editor_commands.h"
#include "compose/held_mail.h"
#include "reply/reply_text.h"
#include "store/text_codec.h"
#include "ui/accessibility.h"
#include "ui/app_context.h"
#include "ui/certificate_box.h"
#include "ui/clock.h"
#include "ui/controls.h"
#include "ui/geometry.h"
#include "ui/keyboard.h"
#include "ui/ui_services.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>

namespace lumora {
namespace {

// The window's first size, and where the body starts, in twips.
constexpr int kFirstWidth = 9600;
constexpr int kFirstHeight = 8400;
constexpr int kBodyTop = 1590;
constexpr int kFieldLeft = 900;
constexpr int kAttachTop = 1200;
constexpr int kFirstAttachWidth = 2800;

} // namespace

BackForm::BackForm(AppContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window), context_(context),
      runner_(std::make_unique<compose::SendRunner>(context.mail))
{
    client_ = ui::makeForm(this, QStringLiteral("BackForm"), QStringLiteral("返事を書く"));
    createControls();
    attachments_ =
        new AttachmentControls({AttachCommand, Command9, Command10, nullptr, List2, AttachText},
                               this, context.ui, context.attachmentListClicks);
    nameControls();
    connectSignals();
    ui::prepareKeyboard(this, ui::EscapeKey::Ignored);
    ui::ctrlTabLeaves(BodyText);
    ui::setTabChain({Command2, Command3, Command4, ToText, SubjectText, AttachText, AttachCommand,
                     Command9, Command10, List2, BodyText});
    resize(ui::twips(kFirstWidth), ui::twips(kFirstHeight));
}

BackForm::~BackForm() = default;

void BackForm::createControls()
{
    Command2 = ui::pushButton(client_, "Command2", QStringLiteral("    送信"), 120, 60, 1500, 360);
    Command3 =
        ui::pushButton(client_, "Command3", QStringLiteral("     送信中止"), 1680, 60, 1700, 360);
    Command4 =
        ui::pushButton(client_, "Command4", QStringLiteral("     本文に貼付"), 3440, 60, 1900, 360);

    Label1 = ui::label(client_, "Label1", QStringLiteral("宛先"), 120, 510, 760, 300);
    ToText = ui::lineEdit(client_, "ToText", kFieldLeft, 480, 6720, 330);
    Label2 = ui::label(client_, "Label2", QStringLiteral("題名"), 120, 870, 760, 300);
    SubjectText = ui::lineEdit(client_, "SubjectText", kFieldLeft, 840, 6720, 330);
    Label3 = ui::label(client_, "Label3", QStringLiteral("添付File"), 120, 1230, 760, 300);
    AttachText =
        ui::lineEdit(client_, "AttachText", kFieldLeft, kAttachTop, kFirstAttachWidth, 330);
    AttachCommand = ui::pushButton(client_, "AttachCommand", QStringLiteral("添付"),
                                   kFirstAttachWidth + 1240, kAttachTop, 780, 330);
    Command9 = ui::pushButton(client_, "Command9", QStringLiteral("追加"), kFirstAttachWidth + 2060,
                              kAttachTop, 840, 330);
    Command10 = ui::pushButton(client_, "Command10", QStringLiteral("取り消し"),
                               kFirstAttachWidth + 2940, kAttachTop, 900, 330);

    BodyText = new QTextEdit(client_);
    BodyText->setObjectName(QStringLiteral("BodyText"));
    BodyText->setAcceptRichText(false);
    BodyText->setFont(ui::fontFamily(QStringLiteral("ＭＳ Ｐゴシック"), 10.5));
    ui::placeTwips(BodyText, 60, kBodyTop, 9500, 6200);

    // The names of the attached files, under the attachment row, over the body.
    List2 = new QListWidget(client_);
    List2->setObjectName(QStringLiteral("List2"));
    List2->setTextElideMode(Qt::ElideNone);
    ui::placeTwips(List2, kFieldLeft, kAttachTop + 360, kFirstAttachWidth, 900);
    List2->setVisible(false);
    List2->raise();

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false); // the window's edges resize it
    auto* column = static_cast<QBoxLayout*>(layout());
    column->addWidget(StatusBar1);
    column->setStretchFactor(client_, 1); // the bar keeps its own height
}

// What a screen reader says for each control: its caption, or its role.
void BackForm::nameControls()
{
    ui::nameCaptionedControls(this);
    const std::pair<QWidget*, const char*> roles[] = {
        {Label1, "宛先"},      {Label2, "題名"},
        {Label3, "添付File"},  {ToText, "宛先"},
        {SubjectText, "題名"}, {AttachText, "添付ファイル"},
        {BodyText, "本文"},    {List2, "添付ファイル一覧"},
        {StatusBar1, "状態"},
    };
    for (const auto& [control, name] : roles) {
        control->setAccessibleName(QString::fromUtf8(name));
    }
    Command2->setAccessibleDescription(QStringLiteral("返事を宛先に送信します。"));
    Command3->setAccessibleDescription(QStringLiteral("送信せずに閉じます。"));
    Command4->setAccessibleDescription(
        QStringLiteral("コピーした内容を、受信したメールの本文の上に貼り付けます。"));
}

void BackForm::connectSignals()
{
    connect(Command2, &QPushButton::clicked, this, &BackForm::send);
    connect(Command3, &QPushButton::clicked, this, &QWidget::close);
    connect(Command4, &QPushButton::clicked, this, &BackForm::pasteAboveReceived);
    connect(runner_.get(), &compose::SendRunner::finished, this, &BackForm::sendFinished);
}

void BackForm::load()
{
    ui::placeTwips(AttachText, kFieldLeft, kAttachTop, kFirstAttachWidth, 330);
    List2->setVisible(false);
}

bool BackForm::fillReply(const QString& subject, const QString& to, const QString& body,
                         const QString& threadHeader)
{
    if (runner_->running()) {
        context_.ui.inform(this, QStringLiteral("返事を送信中です。送信が終わってから、"
                                                "もう一度「返事を書く」を押して下さい。"));
        return false;
    }
    if (holdsUnsentText() &&
        !context_.ui.askBeforeLosing(
            this, QStringLiteral("書きかけの返事があります。送信していない返事を破棄して、"
                                 "新しい返事に置き換えますか？"))) {
        return false;
    }
    threadHeader_ = threadHeader;
    SubjectText->setText(subject);
    ToText->setText(to);
    setEditorText(BodyText, body);
    start_ = draft();
    return true;
}

compose::Draft BackForm::draft() const
{
    return {ToText->text(), SubjectText->text(), editorText(BodyText), attachments_->files()};
}

bool BackForm::holdsUnsentText() const
{
    return compose::holdsUnsentText(start_, draft());
}

bool BackForm::holdUnsent()
{
    if (!holdsUnsentText()) {
        return true;
    }
    const compose::Draft d = draft();
    const compose::HeldMailFile file(context_.paths.heldFile(), context_.paths.heldTemp());
    if (!file.hold({d.to, d.subject, d.body}, context_.clock.now()).ok()) {
        return false;
    }
    start_ = d;
    return true;
}

void BackForm::insertIntoBody(const QString& text)
{
    insertAtCaret(BodyText, text);
}

bool BackForm::sending() const
{
    return runner_->running();
}

void BackForm::waitForSend()
{
    runner_->wait();
}

QStringList BackForm::attachments() const
{
    return attachments_->files();
}

void BackForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layOut();
}

void BackForm::layOut()
{
    const reply::ReplyLayout l =
        reply::replyLayout(ui::pixelsToTwips(width()), ui::pixelsToTwips(height()));
    const auto setWidth = [](QWidget* w, int twips) {
        w->resize(ui::twips(twips), w->height());
    };
    const auto setLeft = [](QWidget* w, int twips) {
        w->move(ui::twips(twips), w->y());
    };
    BodyText->resize(ui::twips(l.bodyWidth), ui::twips(l.bodyHeight));
    setWidth(ToText, l.fieldWidth);
    setWidth(SubjectText, l.fieldWidth);
    setWidth(AttachText, l.attachWidth);
    setLeft(AttachCommand, l.firstLeft);
    setLeft(Command9, l.addLeft);
    setLeft(Command10, l.cancelLeft);
}

void BackForm::send()
{
    if (runner_->running()) {
        context_.ui.inform(this, QStringLiteral("前の返事を送信中です。送信が終わってから、"
                                                "もう一度送信して下さい。"));
        return;
    }
    compose::SendRequest request;
    request.server = context_.account.SmtpServer;
    request.from = context_.account.MailAddress;
    request.recipients = {ToText->text()};
    request.subject = SubjectText->text();
    request.body = editorText(BodyText);
    request.attachments = attachments_->files();
    request.header = threadHeader_;
    setBusy(true);
    StatusBar1->showMessage(QStringLiteral("返事を送信中です。しばらくお待ち下さい。"));
    runner_->start(request);
}

void BackForm::sendFinished(const compose::SendReport& report)
{
    setBusy(false);
    if (report.allSent()) {
        StatusBar1->clearMessage();
        start_ = draft(); // sent: nothing is lost by closing
        close();
        return;
    }
    if (const auto certificate = report.refusedCertificate()) {
        if (ui::offerCertificateTrust(context_.ui, context_.mail, this, *certificate)) {
            send();
            return;
        }
    }
    // Nothing written is lost: the window stays with everything in it.
    for (const QString& message : report.distinctMessages()) {
        context_.ui.inform(this, message, QStringLiteral("送信エラー"), MessageIcon::Critical);
    }
    StatusBar1->showMessage(QStringLiteral("送信できませんでした。返事は送信されていません。"));
}

void BackForm::setBusy(bool on)
{
    // The controls keep their own states (the attachment buttons' above all):
    // only the area they lie on is switched.
    client_->setEnabled(!on);
}

void BackForm::pasteAboveReceived()
{
    const MailRecord received = context_.recordBuffer.get();
    setEditorText(BodyText, reply::pastedBody(context_.ui.clipboardText(), received.body()));
    context_.ui.setClipboardText(editorText(BodyText));
    setEditorText(BodyText, text::trimSpaces(context_.ui.clipboardText()));
}

void BackForm::closeEvent(QCloseEvent* event)
{
    if (runner_->running()) {
        StatusBar1->showMessage(QStringLiteral("送信中は閉じられません。"));
        event->ignore();
        return;
    }
    if (holdsUnsentText() &&
        !context_.ui.askBeforeLosing(
            this, QStringLiteral("この返事は送信していません。閉じると、書いた内容は"
                                 "失われます。閉じますか？"))) {
        event->ignore();
        return;
    }
    BodyText->clear();
    QWidget::closeEvent(event);
}

} // namespace lumora
