// The main window's receive: starting a cycle by hand or on the interval,
// its progress and boxes, its report, and the interval check's timers.

#include "app/main_form.h"

#include "app/windows.h"
#include "mail/mail_library.h"
#include "mail/receive_runner.h"
#include "search/mail_search.h"
#include "settings/id_pass_form.h"
#include "settings/set_form.h"
#include "store/background_job.h"
#include "store/numeric_text.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "ui/app_context.h"
#include "ui/certificate_box.h"
#include "ui/clock.h"
#include "ui/ui_services.h"
#include "viewer/tyaku_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>

#include <algorithm>

namespace lumora {

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
    // Repainted at most twenty times a second: drawing every one of hundreds
    // of mails a second took the processor from the receive itself.
    if (progressPace_.isValid() && progressPace_.elapsed() < kProgressPaceMs && index > 1 &&
        index < count) {
        return;
    }
    progressPace_.start();
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
    // Hundreds of mails a second may come in: the viewer's fields take one
    // at most every tenth of a second, and the last one when the receive
    // ends, instead of laying out every body nobody could read.
    shownMail_ = {subject, from, date, body};
    if (!shownPace_.isValid() || shownPace_.elapsed() >= kShownMailPaceMs) {
        flushShownMail();
    }
    Q_EMIT mailReceived(subject, from, date, body);
}

void MainForm::flushShownMail()
{
    // A viewer not made yet is not made for this: opening it shows the
    // newest mail anyway.
    const std::optional<QStringList> mail = std::exchange(shownMail_, std::nullopt);
    if (TyakuForm* viewer = windows_.existing<TyakuForm>(); mail && viewer) {
        viewer->showReceivedMail((*mail)[0], (*mail)[1], (*mail)[2], (*mail)[3]);
        shownPace_.start();
    }
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
    flushShownMail();
    shownPace_.invalidate();
    progressPace_.invalidate();
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
    noticeNewMail(count);
    if (const TyakuForm* viewer = windows_.existing<TyakuForm>();
        count >= 1 && (!viewer || !viewer->isVisible()) && !receiver_->updatesIndex()) {
        keepIndexInStep();
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

void MainForm::noticeNewMail(int count)
{
    // While the user is in one of the program's windows, the lamp and the
    // texts say it; a desktop notice is for when they are elsewhere.
    if (count < 1 || QApplication::activeWindow()) {
        return;
    }
    const RecordFile file = mailFile(context_.paths.receivedFile());
    const qint64 stored = file.wholeCount();
    QString newest;
    if (const Result<QByteArray> last = file.read(stored); stored > 0 && last.ok()) {
        const MailRecord mail = MailRecord::fromBytes(last.value());
        newest = text::trimSpaces(text::CutAtNul(mail.from())) + u'\n' +
                 text::trimSpaces(text::CutAtNul(mail.subject()));
    }
    // Activated, it opens the viewer, which shows the newest mail.
    context_.ui.notify(QStringLiteral("新着メール %1 通").arg(count), newest,
                       [form = QPointer<MainForm>(this)] {
                           if (form) {
                               form->viewMail();
                           }
                       });
}

void MainForm::keepIndexInStep()
{
    if (!indexJob_) {
        indexJob_ = std::make_unique<BackgroundJob>();
    }
    if (indexJob_->running()) {
        return; // the run in hand, or the viewer when it opens, takes this mail too
    }
    indexStop_ = false;
    indexJob_->start([search = search::MailSearch(context_.paths),
                      stop = &indexStop_]() mutable { return search.update({}, stop); },
                     [](const Status&) {});
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

} // namespace lumora
