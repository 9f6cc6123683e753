// The viewer's actions on the originals of stored mail: showing and saving
// the shown mail's original, exporting mail to mbox and .eml files, and
// importing other programs' mail.

#include "viewer/tyaku_form.h"

#include "mail/mail_import.h"
#include "store/background_job.h"
#include "store/file_io.h"
#include "store/originals.h"
#include "store/paths.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "ui/app_context.h"
#include "ui/progress_run.h"
#include "ui/ui_services.h"
#include "viewer/mail_exchange.h"
#include "viewer/mail_list_model.h"
#include "viewer/original_form.h"
#include "viewer/original_mail.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTextEdit>

namespace lumora {
namespace {

const QString kNoOriginal =
    QStringLiteral("このメールには元のメールが保存されていません。\n"
                   "元のメールは、このバージョンから受信または読み込んだメールに保存されます。");
const QString kExportCaption = QStringLiteral("メールを書き出す");
const QString kImportCaption = QStringLiteral("メールを読み込む");
const QString kMboxFilter = QStringLiteral("mbox ファイル (*.mbox *.mbx);;すべてのファイル (*)");

} // namespace

std::optional<QByteArray> TyakuForm::shownOriginal() const
{
    if (shown_.number == 0) {
        return std::nullopt;
    }
    return Originals(context_.paths.originalsFolder()).read(shown_.number, shown_.bytes);
}

void TyakuForm::noteLoss()
{
    if (!job_->running()) {
        showStatus(QString()); // nothing is known of this mail yet
    }
    if (lossJob_->running()) {
        lossAgain_ = true; // for the mail shown when the one in hand is done
        return;
    }
    if (shown_.number == 0) {
        return;
    }
    // The original is read and decoded off the window's thread.
    const ChosenRecord record = shown_;
    const Originals originals(context_.paths.originalsFolder());
    auto note = std::make_shared<QString>();
    lossJob_->start(
        [originals, record, note] {
            if (const std::optional<QByteArray> raw = originals.read(record.number, record.bytes)) {
                *note = viewer::lossNote(viewer::readOriginal(*raw));
            }
            return Status::success();
        },
        [this, record, note](const Status&) {
            if (std::exchange(lossAgain_, false)) {
                noteLoss();
            } else if (!job_->running() && !note->isEmpty() && shown_.number == record.number &&
                       shown_.bytes == record.bytes) {
                // The buttons at the bottom cover all but the status bar's
                // first words.
                showStatus(QStringLiteral("※元のメールを表示"), *note);
            }
        });
}

void TyakuForm::showOriginal()
{
    const std::optional<QByteArray> raw = shownOriginal();
    if (!raw) {
        context_.ui.inform(this, kNoOriginal);
        return;
    }
    const viewer::OriginalMail mail = viewer::readOriginal(*raw);
    if (!original_) {
        original_ = new OriginalForm(this);
    }
    original_->showMail(mail.subject, viewer::originalText(mail));
    // A screen reader says which mail's original the window holds.
    original_->setAccessibleName(original_->windowTitle());
    original_->show();
    original_->raise();
    original_->activateWindow();
}

void TyakuForm::saveOriginal()
{
    const std::optional<QByteArray> raw = shownOriginal();
    if (!raw) {
        context_.ui.inform(this, kNoOriginal);
        return;
    }
    const std::optional<QString> path = context_.ui.saveFileName(
        this, QStringLiteral("元のメールを保存"), context_.paths.quickSaveFolder(),
        QStringLiteral("メール (*.eml);;すべてのファイル (*)"));
    if (!path) {
        return;
    }
    if (!fileio::writeAtomically(*path, *raw).ok()) {
        reportFailure(QStringLiteral("ファイルを保存できませんでした。"), *path);
    }
}

void TyakuForm::exportMail()
{
    if (exchanging_) {
        return;
    }
    const bool shown = shown_.number > 0;
    QStringList options = {QStringLiteral("すべてのメールを mbox ファイルに"),
                           QStringLiteral("すべてのメールを .eml ファイルにしてフォルダへ")};
    if (shown) {
        options << QStringLiteral("表示中のメールを mbox ファイルに")
                << QStringLiteral("表示中のメールを .eml ファイルにしてフォルダへ");
    }
    const std::optional<int> choice =
        context_.ui.choose(this, kExportCaption, QStringLiteral("書き出すメールと形式:"), options);
    if (!choice || *choice < 0) {
        return;
    }
    const bool mbox = *choice % 2 == 0;
    const std::optional<QString> target =
        mbox ? context_.ui.saveFileName(this, kExportCaption, context_.paths.quickSaveFolder(),
                                        kMboxFilter)
             : context_.ui.folderName(this, kExportCaption, context_.paths.quickSaveFolder());
    if (!target) {
        return;
    }
    const std::optional<ChosenRecord> only =
        *choice >= 2 ? std::optional<ChosenRecord>(shown_) : std::nullopt;
    const RecordFile file = mailFile(context_.paths.receivedFile());
    const Originals originals(context_.paths.originalsFolder());
    exchange::ExportOutcome outcome;
    exchanging_ = true;
    // Said once the user has read how far it got: the program ending after
    // an import or export (which waits for this) must not take the window
    // from under its message box.
    const auto ended = qScopeGuard([this] { Q_EMIT exchangeEnded(); });
    exchangeCancel_ = false;
    ui::runWithProgress(
        this, kExportCaption, QStringLiteral("メールを書き出しています"),
        [&](ui::ProgressReport& report) {
            const exchange::Records records =
                only ? exchange::recordOf(only->number, MailRecord::fromBytes(only->bytes))
                     : exchange::recordsOf(file);
            const int count = only ? 1 : static_cast<int>(file.wholeCount());
            const auto progress = [&report](int done, int total) {
                report.report(done, total);
                return !report.cancelled();
            };
            outcome = mbox
                          ? exchange::exportMbox(records, count, originals, *target, progress)
                          : exchange::exportEmlFolder(records, count, originals, *target, progress);
        },
        &exchangeCancel_);
    exchanging_ = false;
    if (outcome.status.error() == StoreError::Interrupted) {
        context_.ui.inform(this,
                           mbox ? QStringLiteral("書き出しを中止しました。")
                                : QStringLiteral("書き出しを中止しました（%1 件を書き出し済み）。")
                                      .arg(outcome.written));
    } else if (!outcome.status.ok()) {
        reportFailure(QStringLiteral("メールを書き出せませんでした。"), *target);
    } else {
        context_.ui.inform(this, QStringLiteral("%1 件のメールを書き出しました。\n%2")
                                     .arg(outcome.written)
                                     .arg(*target));
    }
}

void TyakuForm::importMail()
{
    if (exchanging_ || job_->running()) {
        return;
    }
    const std::optional<int> choice =
        context_.ui.choose(this, kImportCaption, QStringLiteral("読み込むもの:"),
                           {QStringLiteral("mbox ファイル"),
                            QStringLiteral("メールのフォルダ（.eml ファイル、Maildir、MH）")});
    if (!choice || *choice < 0) {
        return;
    }
    const std::optional<QString> source =
        *choice == 0 ? context_.ui.openFileName(this, kImportCaption, QDir::homePath(), kMboxFilter)
                     : context_.ui.folderName(this, kImportCaption, QDir::homePath());
    if (!source) {
        return;
    }
    ImportOutcome outcome;
    QStringList passedOver;
    bool noMail = false;
    exchanging_ = true;
    // Said once the user has read how far it got: the program ending after
    // an import or export (which waits for this) must not take the window
    // from under its message box.
    const auto ended = qScopeGuard([this] { Q_EMIT exchangeEnded(); });
    exchangeCancel_ = false;
    ui::runWithProgress(
        this, kImportCaption, QStringLiteral("メールを読み込んでいます"),
        [&](ui::ProgressReport& report) {
            Result<exchange::MailSource> opened = exchange::MailSource::open(*source);
            if (!opened.ok()) {
                outcome.status = opened.status();
                return;
            }
            exchange::MailSource mails = std::move(opened).value();
            int taken = 0;
            outcome = importMails(
                context_.mail, context_.paths,
                [&]() -> std::optional<QByteArray> {
                    report.reportShare(mails.done(), mails.total(), taken++);
                    return mails.next(&exchangeCancel_);
                },
                &exchangeCancel_);
            passedOver = mails.passedOver();
            noMail = mails.heldNoMail();
        },
        &exchangeCancel_);
    exchanging_ = false;
    fillRows();
    if (!outcome.status.ok() && outcome.imported == 0 && outcome.skipped == 0 &&
        passedOver.isEmpty()) {
        // Nothing could be read at all: the reason is the message.
        reportFailure(QStringLiteral("メールを読み込めませんでした。"),
                      outcome.status.detail().isEmpty() ? *source : outcome.status.detail());
        return;
    }
    QString text = noMail && outcome.status.ok()
                       ? QStringLiteral("メールが見つかりませんでした。\n%1").arg(*source)
                       : QStringLiteral("%1 件のメールを読み込みました。").arg(outcome.imported);
    if (outcome.skipped > 0) {
        text += QStringLiteral("\n%1 件は読み込み済みのため飛ばしました。").arg(outcome.skipped);
    }
    if (!passedOver.isEmpty()) {
        // Named, at most a screenful; the count says how many there were.
        constexpr int kNamed = 15;
        text += QStringLiteral("\n次の %1 件は読み込みませんでした。").arg(passedOver.size());
        for (qsizetype i = 0; i < std::min<qsizetype>(passedOver.size(), kNamed); ++i) {
            text += QStringLiteral("\n・") + passedOver[i];
        }
        if (passedOver.size() > kNamed) {
            text += QStringLiteral("\n・ほか %1 件").arg(passedOver.size() - kNamed);
        }
    }
    if (outcome.cancelled) {
        text += QStringLiteral("\n途中で中止しました。");
    }
    if (outcome.full) {
        text += QStringLiteral("\n受信メールの保存件数が上限（32767件）に達したため、"
                               "残りは読み込んでいません。");
    }
    if (!outcome.status.ok()) {
        reportFailure(text + QStringLiteral("\nメールを読み込めませんでした。"), *source);
        return;
    }
    context_.ui.inform(this, text);
}

} // namespace lumora
