// The viewer's actions on the file and on the shown mail: deleting, saving
// as text, searching the body, copying a header field, and handing the shown
// mail to the address book and to a reply.

#include "viewer/tyaku_form.h"

#include "reply/reply_text.h"
#include "search/mail_search.h"
#include "store/background_job.h"
#include "store/mail_store.h"
#include "store/paths.h"
#include "store/records.h"
#include "store/text_file.h"
#include "ui/app_context.h"
#include "ui/ui_services.h"
#include "viewer/mail_list_model.h"
#include "viewer/mail_order.h"
#include "viewer/original_mail.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStatusBar>
#include <QTextEdit>
#include <QTreeView>

namespace lumora {
namespace {

const QString kNotSelected = QStringLiteral("データが選択されていません");
const QString kConfirm = QStringLiteral("確認");
const QString kCrLf = QStringLiteral("\r\n");
const QString kListChanged =
    QStringLiteral("メールの一覧が変わっていたため、削除しませんでした。\n"
                   "一覧を読み込み直しましたので、もう一度選んでください。");

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

void TyakuForm::deleteSelected()
{
    if (job_->running()) {
        return; // one rewrite at a time; the buttons say so by being off
    }
    if (Text5->text().isEmpty() || shown_.number == 0) {
        context_.ui.inform(this, kNotSelected);
        return;
    }
    // The mail deleted is the one in the fields, named in the question; it
    // is checked again when the file's turn comes (see MailStore::remove).
    const ChosenRecord chosen = shown_;
    const bool yes = context_.ui.askBeforeLosing(
        this, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか") +
                  viewer::namedMail(Text7->text(), Text8->text()));
    rtfEd->setFocus();
    Text5->clear();
    if (!yes) {
        rtfEd->clear();
        return;
    }
    const MailStore store(context_.paths);
    rewriteFile(
        [store, chosen, hook = deletionHook,
         witness = search::MailSearch(context_.paths).witness()] {
            return store.remove({chosen}, hook, witness);
        },
        [this, deleted = static_cast<int>(chosen.number) - 1](const Status& status) {
            clearFields();
            if (status.error() == StoreError::Changed) {
                context_.ui.inform(this, kListChanged);
            } else if (!status.ok()) {
                reportFailure(QStringLiteral("メールを削除できませんでした。"),
                              context_.paths.receivedFile());
            }
            // A sorted list stays sorted while the sort beside the window
            // runs again, instead of showing the record order meanwhile.
            fillRows(status.ok() && model_->ordered()
                         ? viewer::orderWithout(model_->order(), deleted)
                         : QList<int>{});
        });
}

void TyakuForm::deleteAll()
{
    if (job_->running()) {
        return;
    }
    if (!context_.ui.askBeforeLosing(this,
                                     QStringLiteral("すべてのデータを削除して良いですか？"))) {
        return;
    }
    // All the user saw: a mail received while the question was open stays.
    const qint64 count = model_->recordCount();
    const MailStore store(context_.paths);
    rewriteFile(
        [store, count, witness = search::MailSearch(context_.paths).witness()] {
            return store.removeFirst(count, {}, witness);
        },
        [this](const Status& status) {
            if (status.error() == StoreError::Changed) {
                context_.ui.inform(this, kListChanged);
                fillRows();
                return;
            }
            if (!status.ok()) {
                reportFailure(QStringLiteral("メールを削除できませんでした。"),
                              context_.paths.receivedFile());
                fillRows();
                return;
            }
            const QScopedValueRollback listing(listing_, true);
            model_->reload();
            Q_EMIT explanationReset(QStringLiteral("0"));
            Text2->setText(QString::number(model_->rowCount()));
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
        const QScopedValueRollback listing(listing_, true);
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
    } else {
        sayNotFound();
    }
}

void TyakuForm::findNext()
{
    viewer::BodySearch::Match match;
    if (search_.findNext(rtfEd->toPlainText(), Text1->text(), match)) {
        selectMatch(match);
    } else {
        sayNotFound();
    }
}

void TyakuForm::focusSearch()
{
    Text1->setFocus(Qt::ShortcutFocusReason);
    Text1->selectAll();
}

void TyakuForm::sayNotFound()
{
    // A match left selected from before would look like a hit.
    QTextCursor cursor = rtfEd->textCursor();
    if (cursor.hasSelection()) {
        cursor.clearSelection();
        rtfEd->setTextCursor(cursor);
    }
    const QString needle = Text1->text();
    showStatus(needle.isEmpty() ? QStringLiteral("検索文字を入力してください。")
                                : QStringLiteral("「%1」は見つかりませんでした。").arg(needle));
}

void TyakuForm::selectMatch(const viewer::BodySearch::Match& match)
{
    QTextCursor cursor = rtfEd->textCursor();
    cursor.setPosition(static_cast<int>(match.start));
    cursor.setPosition(static_cast<int>(match.start + match.length), QTextCursor::KeepAnchor);
    rtfEd->setFocus();
    rtfEd->setTextCursor(cursor);
    showStatus(QString());
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
