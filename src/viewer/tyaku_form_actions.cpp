// The viewer's actions on the file and on the shown mail: deleting, saving
// as text, searching the body, copying a header field, and handing the shown
// mail to the address book and to a reply.

#include "viewer/tyaku_form.h"

#include "reply/reply_text.h"
#include "store/background_job.h"
#include "store/paths.h"
#include "store/records.h"
#include "store/text_file.h"
#include "ui/app_context.h"
#include "ui/ui_services.h"
#include "viewer/mail_deletion.h"
#include "viewer/mail_list_model.h"
#include "viewer/original_mail.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QTreeView>

namespace lumora {
namespace {

const QString kNotSelected = QStringLiteral("データが選択されていません");
const QString kConfirm = QStringLiteral("確認");
const QString kCrLf = QStringLiteral("\r\n");

} // namespace

bool TyakuForm::consumeMarker()
{
    if (Text5->text().isEmpty()) {
        context_.ui.inform(this, kNotSelected);
        return false;
    }
    rtfEd->setFocus();
    Text5->clear();
    return true;
}

void TyakuForm::registerSender()
{
    if (consumeMarker()) {
        Q_EMIT senderToRegister(Text8->text());
    }
}

void TyakuForm::startReply()
{
    if (!consumeMarker()) {
        return;
    }
    const reply::ReplyFields fields =
        reply::replyTo(Text7->text(), Text8->text(), editorText(rtfEd));
    const std::optional<QByteArray> original = shownOriginal();
    Q_EMIT replyRequested(fields.subject, fields.to, fields.body,
                          original ? viewer::threadHeader(viewer::readOriginal(*original))
                                   : QString());
}

bool TyakuForm::mayRewrite()
{
    if (job_->running()) {
        return false; // one rewrite at a time; the buttons say so by being off
    }
    if (context_.receivingMail) {
        context_.ui.inform(this, QStringLiteral("メールを受信しています。\n"
                                                "受信が終わってから、もう一度削除してください。"));
        return false;
    }
    return true;
}

void TyakuForm::deleteSelected()
{
    if (Text5->text().isEmpty()) {
        context_.ui.inform(this, kNotSelected);
        return;
    }
    const int row = selectedRow();
    if (row < 0) {
        context_.ui.inform(this, kNotSelected);
        return;
    }
    if (!mayRewrite()) {
        return;
    }
    const bool yes = context_.ui.ask(
        this, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"), kConfirm,
        MessageIcon::Question);
    rtfEd->setFocus();
    Text5->clear();
    if (!yes) {
        rtfEd->clear();
        return;
    }
    const RecordFile file = mailFile(context_.paths.receivedFile());
    const QString temp = context_.paths.receivedTemp();
    const Originals originals(context_.paths.originalsFolder());
    rewriteFile(
        [file, temp, originals, n = row + 1, hook = deletionHook] {
            return viewer::deleteMail(file, n, temp, originals, hook);
        },
        [this](const Status& status) {
            clearFields();
            if (!status.ok()) {
                reportFailure(QStringLiteral("メールを削除できませんでした。"),
                              context_.paths.receivedFile());
            }
            fillRows();
        });
}

void TyakuForm::deleteAll()
{
    if (!mayRewrite()) {
        return;
    }
    if (!context_.ui.ask(this, QStringLiteral("すべてのデータを削除して良いですか？"), kConfirm,
                         MessageIcon::Question)) {
        return;
    }
    const RecordFile file = mailFile(context_.paths.receivedFile());
    const Originals originals(context_.paths.originalsFolder());
    rewriteFile([file, originals] { return viewer::deleteAllMail(file, originals); },
                [this](const Status& status) {
                    if (!status.ok()) {
                        reportFailure(QStringLiteral("メールを削除できませんでした。"),
                                      context_.paths.receivedFile());
                        fillRows();
                        return;
                    }
                    model_->reload();
                    Q_EMIT explanationReset(QStringLiteral("0"));
                    Text2->setText(QStringLiteral("0"));
                    clearFields();
                });
}

void TyakuForm::showStatus(const QString& text, const QString& detail)
{
    if (text.isEmpty()) {
        StatusBar1->clearMessage();
    } else {
        StatusBar1->showMessage(text);
    }
    StatusBar1->setToolTip(detail);
    // Named by its role; its message is said to a screen reader as it changes.
    StatusBar1->setAccessibleName(QStringLiteral("ステータスバー"));
    StatusBar1->setAccessibleDescription(detail.isEmpty() ? text : detail);
}

void TyakuForm::rewriteFile(std::function<Status()> work, std::function<void(const Status&)> done)
{
    const auto busy = [this](bool on) {
        context_.rewritingReceivedFile = on;
        model_->setFrozen(on);
        for (QWidget* w : {static_cast<QWidget*>(Command3), static_cast<QWidget*>(Command6),
                           static_cast<QWidget*>(MailListView)}) {
            w->setEnabled(!on);
        }
        showStatus(on ? QStringLiteral("削除しています…") : QString());
        if (on) {
            setCursor(Qt::BusyCursor);
        } else {
            unsetCursor();
        }
    };
    busy(true);
    job_->start(std::move(work), [busy, done = std::move(done)](const Status& status) {
        busy(false);
        done(status);
    });
}

void TyakuForm::search()
{
    viewer::BodySearch::Match match;
    if (search_.search(rtfEd->toPlainText(), Text1->text(), match)) {
        selectMatch(match);
    }
}

void TyakuForm::findNext()
{
    viewer::BodySearch::Match match;
    if (search_.findNext(rtfEd->toPlainText(), Text1->text(), match)) {
        selectMatch(match);
    }
}

void TyakuForm::selectMatch(const viewer::BodySearch::Match& match)
{
    QTextCursor cursor = rtfEd->textCursor();
    cursor.setPosition(static_cast<int>(match.start));
    cursor.setPosition(static_cast<int>(match.start + match.length), QTextCursor::KeepAnchor);
    rtfEd->setFocus();
    rtfEd->setTextCursor(cursor);
}

QString TyakuForm::headerBlockNow() const
{
    return viewer::headerBlock(Text7->text(), Text8->text(), Text9->text(), editorText(rtfEd));
}

void TyakuForm::quickSave()
{
    if (!consumeMarker()) {
        return;
    }
    const QString folder = context_.paths.quickSaveFolder();
    if (!QDir().mkpath(folder)) {
        reportFailure(QStringLiteral("保存用のフォルダを作れませんでした。"), folder);
        return;
    }
    const QString path = findPath(folder, viewer::quickSaveName(Text7->text()));
    if (QFileInfo::exists(path) &&
        !context_.ui.ask(this, QStringLiteral("同名のファイルが既に存在します。上書きしますか？ "),
                         kConfirm, MessageIcon::Question)) {
        return;
    }
    const QString block = headerBlockNow();
    if (!textfile::write(path, block + kCrLf).ok()) {
        reportFailure(QStringLiteral("ファイルを保存できませんでした。"), path);
        return;
    }
    setEditorText(rtfEd, block);
}

void TyakuForm::saveAs()
{
    const QString block = headerBlockNow();
    setEditorText(rtfEd, block);
    const std::optional<QString> path =
        context_.ui.saveFileName(this, QStringLiteral("名前を付けて保存"),
                                 context_.paths.quickSaveFolder(), kTextFileFilter);
    if (!path) {
        return;
    }
    setWindowTitle(*path);
    if (!textfile::write(*path, block + kCrLf).ok()) {
        reportFailure(QStringLiteral("ファイルを保存できませんでした。"), *path);
    }
}

void TyakuForm::copyHeaderField()
{
    context_.ui.setClipboardText(Text6->text());
}

} // namespace lumora
