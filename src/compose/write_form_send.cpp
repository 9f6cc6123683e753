// The compose window's send: one mail, or one to every address-book entry,
// run off the window's thread; nothing typed is lost when a mail fails.

#include "compose/write_form.h"

#include "addressbook/address_book.h"
#include "compose/attachment_controls.h"
#include "compose/held_mail.h"
#include "store/background_job.h"
#include "ui/app_context.h"
#include "ui/certificate_box.h"
#include "ui/clock.h"
#include "ui/geometry.h"
#include "ui/ui_services.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QToolBar>

namespace lumora {
namespace {

const QString kSendingText = QStringLiteral("メールを送信中です。しばらくお待ち下さい。");
const QString kSentText = QStringLiteral("送信完了です。");

} // namespace

void WriteForm::showStatus(const QString& text)
{
    Label7->setText(text);
    // The status line is named by its role and says its text to a screen
    // reader as it changes.
    Label7->setAccessibleName(QStringLiteral("状態"));
    Label7->setAccessibleDescription(text);
}

void WriteForm::send()
{
    if (saidBusy(QStringLiteral("前のメールを送信中です。送信が終わってから、"
                                "もう一度送信して下さい。"),
                 QStringLiteral("メールを保存しています。保存が終わってから、"
                                "もう一度送信して下さい。"))) {
        return;
    }
    applyGreeting();
    attachments_->prepareSend();
    showStatus(kSendingText);
    compose::SendRequest request;
    request.server = context_.account.SmtpServer;
    request.from = context_.account.MailAddress;
    request.subject = SubjectText->text();
    request.body = editorText(rtfEd);
    request.attachments = attachments_->files();
    bulkSend_ = Option2->isChecked();
    if (bulkSend_) {
        const AddressBook book(context_.paths.addressFile(), context_.paths.addressTemp());
        const Result<QList<AddressEntry>> entries = book.entries();
        if (!entries.ok()) {
            showStatus(QStringLiteral("送信できませんでした。"));
            reportFailure(QStringLiteral("アドレス帳を読み込めないため、送信できません。"),
                          entries.status().detail());
            return;
        }
        QStringList stored;
        for (const AddressEntry& entry : entries.value()) {
            stored.append(entry.address);
        }
        request.recipients = compose::bulkRecipients(stored);
        if (request.recipients.isEmpty()) {
            emptyAndClose();
            return;
        }
    } else {
        request.recipients = {ToText->text()};
    }
    setBusy(true, bulkSend_);
    runner_->start(request);
}

void WriteForm::sendProgress(int index, int count, const QString& recipient)
{
    if (count > 1) {
        showStatus(kSendingText + QStringLiteral("（送信中 %1/%2）").arg(index).arg(count));
    } else {
        showStatus(kSendingText);
    }
    if (bulkSend_) {
        ToText->setText(recipient);
    }
}

void WriteForm::sendFinished(const compose::SendReport& report)
{
    setBusy(false);
    if (bulkSend_) {
        ToText->clear();
    }
    if (report.allSent()) {
        emptyAndClose();
        return;
    }
    // A server certificate the user now trusts: nothing went out, so the
    // whole send is made again.
    if (const auto certificate = report.refusedCertificate()) {
        if (ui::offerCertificateTrust(context_.ui, context_.mail, this, *certificate) &&
            report.sent == 0 && !report.stopped) {
            send();
            return;
        }
    }
    // Nothing typed is lost: the window stays as it was, and says why.
    for (const QString& message : report.distinctMessages()) {
        context_.ui.inform(this, message, QStringLiteral("送信エラー"), MessageIcon::Critical);
    }
    if (report.total == 1) {
        showStatus(QStringLiteral("送信できませんでした。メールは送信されていません。"));
        return;
    }
    const QString summary = report.summary();
    showStatus(summary.section(QStringLiteral("\r\n"), 0, 0));
    context_.ui.inform(this, summary, QStringLiteral("送信結果"),
                       report.failures.isEmpty() ? MessageIcon::Information : MessageIcon::Warning);
}

bool WriteForm::saidBusy(const QString& whileSending, const QString& whileHolding)
{
    // Pressed while the last send or hold is still being finished: said,
    // not dropped without a word.
    if (!runner_->running() && !job_->running()) {
        return false;
    }
    context_.ui.inform(this, runner_->running() ? whileSending : whileHolding);
    return true;
}

compose::Draft WriteForm::draft() const
{
    return {ToText->text(), SubjectText->text(), editorText(rtfEd), attachments_->files()};
}

void WriteForm::takeAsStart()
{
    start_ = draft();
}

bool WriteForm::holdsUnsentText() const
{
    return compose::holdsUnsentText(start_, draft());
}

bool WriteForm::mayDiscard()
{
    if (!holdsUnsentText()) {
        return true;
    }
    return context_.ui.askBeforeLosing(
        this, QStringLiteral("このメールは送信も保存もしていません。"
                             "閉じると、書いた内容は失われます。閉じますか？"));
}

bool WriteForm::holdUnsent()
{
    if (!holdsUnsentText()) {
        return true;
    }
    job_->wait();
    const compose::Draft d = draft();
    const compose::HeldMailFile file(context_.paths.heldFile(), context_.paths.heldTemp());
    const bool held = file.hold({d.to, d.subject, d.body}, context_.clock.now()).ok();
    if (held) {
        takeAsStart();
    }
    return held;
}

void WriteForm::emptyAndClose()
{
    showStatus(kSentText);
    ToText->clear();
    SubjectText->clear();
    rtfEd->clear();
    attachments_->cancelAll();
    Check1->setChecked(false);
    Option2->setAutoExclusive(false);
    Option2->setChecked(false);
    Option2->setAutoExclusive(true);
    Command2->setVisible(false);
    ui::setBackgroundColour(List1, ui::paletteColour(2));
    takeAsStart();
    close();
}

void WriteForm::setBusy(bool on, bool stoppable)
{
    for (QWidget* control : std::initializer_list<QWidget*>{
             Frame1, rtfEd, Command1, Command4, Command6, Command5, Command7, Command8, Command17,
             Picture7, Frame4, List1, tbToolBar, menuBar, List2}) {
        control->setEnabled(!on);
    }
    if (!on && Option2->isChecked()) {
        ToText->setEnabled(false); // the bulk mode keeps the recipient box off
    }
    // Only a run of several mails has a rest that can be stopped.
    Command3->setEnabled(!on || stoppable);
}

void WriteForm::stopOrClose()
{
    if (!runner_->running()) {
        if (mayDiscard()) {
            discardAgreed_ = true;
            close();
        }
        return;
    }
    if (context_.ui.ask(this,
                        QStringLiteral("残りのメールの送信を中止しますか？ 送信中のメールは最後まで"
                                       "送信されます。"),
                        QStringLiteral("確認"))) {
        runner_->stop();
        showStatus(QStringLiteral("送信を中止しています。しばらくお待ち下さい。"));
    }
}

bool WriteForm::fillFromLink(const compose::MailtoLink& link)
{
    if (runner_->running()) {
        context_.ui.inform(this, QStringLiteral("メールを送信中です。送信が終わってから、"
                                                "もう一度リンクを開いてください。"));
        return false;
    }
    const bool drafted = !ToText->text().isEmpty() || !SubjectText->text().isEmpty() ||
                         !editorText(rtfEd).trimmed().isEmpty();
    if (drafted && !context_.ui.ask(this,
                                    QStringLiteral("書きかけのメールがあります。メールのリンクの"
                                                   "宛先・題名・本文で置き換えますか？"),
                                    QStringLiteral("確認"), MessageIcon::Question)) {
        return false;
    }
    // The window has one recipient box: the copies' addresses go there too,
    // where the user sees them. Blind copies are not put among them.
    ToText->setText((link.to + link.cc).join(QStringLiteral(", ")));
    SubjectText->setText(link.subject);
    setEditorText(rtfEd, link.body);
    takeAsStart();
    QStringList left = link.ignored;
    if (!link.bcc.isEmpty()) {
        left.prepend(QStringLiteral("bcc"));
    }
    showStatus(left.isEmpty() ? QString()
                              : QStringLiteral("リンクの次の項目は使っていません: ") +
                                    left.join(QStringLiteral(", ")));
    return true;
}

} // namespace lumora
