// The compose window's held mail ("下書き", "保存", "呼出", "削除"), the side
// list's row click and the choice between one recipient and every
// address-book entry.

#include "compose/write_form.h"

#include "addressbook/address_book.h"
#include "compose/held_mail.h"
#include "store/background_job.h"
#include "store/text_codec.h"
#include "ui/accessibility.h"
#include "ui/app_context.h"
#include "ui/clock.h"
#include "ui/geometry.h"
#include "ui/ui_services.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>

namespace lumora {
namespace {

constexpr int kHeldMailMode = 10;
const QString kNoSelection = QStringLiteral("データが選択されていません");
const QString kRecallCaption = QStringLiteral("　アドレス呼出");
const QColor kHeldListColour(206, 240, 244);
const QColor kBulkRecipientColour(213, 239, 255);

compose::HeldMailFile heldFile(const AppContext& context)
{
    return compose::HeldMailFile(context.paths.heldFile(), context.paths.heldTemp());
}

void setCaption(QPushButton* button, const QString& caption)
{
    button->setText(caption);
    button->setAccessibleName(ui::captionName(caption)); // the name follows the caption
}

} // namespace

void WriteForm::toggleDrafts()
{
    if (context_.draftClicks % 2 == 0) {
        Picture7->setVisible(true);
        setCaption(Command17, kRecallCaption);
    } else {
        Picture7->setVisible(false);
        setCaption(Command17, QStringLiteral("下書き"));
        listAddressBook();
    }
    context_.draftClicks = static_cast<qint16>(context_.draftClicks + 1);
}

void WriteForm::hold()
{
    if (saidBusy(QStringLiteral("メールを送信中です。送信が終わってから、もう一度保存して下さい。"),
                 QStringLiteral("前のメールを保存しています。保存が終わってから、"
                                "もう一度保存して下さい。"))) {
        return;
    }
    Text2->clear();
    if (SubjectText->text().isEmpty()) {
        context_.ui.inform(this, QStringLiteral("件名が空白です。保存出来ません。"), QString(),
                           MessageIcon::Information);
        return;
    }
    if (!context_.ui.ask(this,
                         QStringLiteral("作成したメールを保留し（保存）後で送信しますか？ "
                                        "保存後、内容をクリアします。"),
                         QStringLiteral("確認"))) {
        return;
    }
    const compose::HeldMail mail{ToText->text(), SubjectText->text(), editorText(rtfEd)};
    // A held mail comes back as it was written, or the user knows beforehand
    // what it loses.
    const QStringList losses = compose::heldMailLosses(mail);
    if (!losses.isEmpty() &&
        !context_.ui.ask(this,
                         QStringLiteral("このまま保存すると、次の内容が失われます。\r\n\r\n") +
                             losses.join(QStringLiteral("\r\n")) +
                             QStringLiteral("\r\n\r\n保存しますか？"),
                         QStringLiteral("確認"), MessageIcon::Warning)) {
        return;
    }
    // The record is written and flushed to disk off the window's thread; the
    // window takes no input meanwhile, so nothing typed is emptied unsaved.
    const compose::HeldMailFile file = heldFile(context_);
    const QDateTime when = context_.clock.now();
    setBusy(true);
    job_->start(
        [file, mail, when] {
            const Result<qint64> stored = file.hold(mail, when);
            return stored.ok() ? Status::success() : stored.status();
        },
        [this](const Status& status) {
            setBusy(false);
            if (status.error() == StoreError::BadArgument) {
                context_.ui.inform(this,
                                   QStringLiteral("保存できるメールは %1 件までです。不要になった"
                                                  "メールを削除してから保存して下さい。")
                                       .arg(compose::HeldMailFile::kMaxMails),
                                   QString(), MessageIcon::Warning);
                return;
            }
            if (!status.ok()) {
                reportFailure(QStringLiteral("メールを保存できませんでした（%1）。")
                                  .arg(context_.paths.heldFile()),
                              status.detail());
                return;
            }
            recall();
            ToText->clear();
            SubjectText->clear();
            rtfEd->clear();
            takeAsStart(); // kept: what the window shows now is nobody's text
        });
}

void WriteForm::recall()
{
    Text2->clear();
    context_.listMode = kHeldMailMode;
    ui::setBackgroundColour(List1, kHeldListColour);
    setWidthTwips(kWideWidth);
    listHeldMail();
    setCaption(Command17, kRecallCaption);
    ui::setBackgroundColour(Command17, ui::paletteColour(14));
}

void WriteForm::listHeldMail()
{
    List1->clear();
    recordIndex_.clear();
    const Result<QStringList> subjects = heldFile(context_).subjects();
    if (!subjects.ok()) {
        reportFailure(QStringLiteral("保存したメールを読み込めませんでした（%1）。")
                          .arg(context_.paths.heldFile()),
                      subjects.status().detail());
    } else {
        qint16 n = 0;
        for (const QString& subject : subjects.value()) {
            List1->addItem(subject);
            recordIndex_.append(++n);
        }
    }
    Text1->setText(QString::number(List1->count()));
}

void WriteForm::listClicked()
{
    Text2->setText(QStringLiteral("1"));
    const int row =
        List1->currentItem() && List1->currentItem()->isSelected() ? List1->currentRow() : -1;
    if (row < 0 || row >= recordIndex_.size()) {
        context_.ui.inform(this, kNoSelection, QString(), MessageIcon::Warning);
        List1->setFocus();
        return;
    }
    const qint64 n = recordIndex_[row];
    if (context_.listMode == kHeldMailMode) {
        const Result<compose::HeldMail> mail = heldFile(context_).read(n);
        if (!mail.ok()) {
            reportFailure(QStringLiteral("保存したメールを読み込めませんでした。"),
                          mail.status().detail());
            return;
        }
        // A held mail put back in place of what the window held: said first
        // when that was the user's own, unsent text.
        if (holdsUnsentText() &&
            !context_.ui.askBeforeLosing(
                this, QStringLiteral("書きかけのメールがあります。呼び出したメールで"
                                     "置き換えますか？"))) {
            return;
        }
        ToText->setText(mail.value().to);
        SubjectText->setText(mail.value().subject);
        setEditorText(rtfEd, mail.value().body);
        takeAsStart();
        return;
    }
    const AddressBook book(context_.paths.addressFile(), context_.paths.addressTemp());
    const Result<AddressEntry> entry = book.entry(n);
    if (!entry.ok()) {
        reportFailure(QStringLiteral("アドレス帳を読み込めませんでした。"),
                      entry.status().detail());
        return;
    }
    ToText->setText(text::trimSpaces(text::cutCharacters(entry.value().address, 60)));
}

void WriteForm::deleteHeld()
{
    if (context_.listMode != kHeldMailMode) {
        Text2->clear();
        setCaption(Command17, kRecallCaption);
        return;
    }
    if (Text2->text().isEmpty()) {
        context_.ui.inform(this, kNoSelection);
        return;
    }
    const int row = List1->currentRow();
    if (row < 0 || job_->running()) {
        return;
    }
    // The mail as it is now, named in the question; the deletion checks
    // that it is still that mail when the file's turn comes.
    const Result<ChosenRecord> record = heldFile(context_).chosen(row + 1);
    if (!record.ok()) {
        reportFailure(QStringLiteral("保存したメールを読み込めませんでした。"),
                      record.status().detail());
        return;
    }
    const ChosenRecord chosen = record.value();
    const compose::HeldMail held = compose::HeldMailFile::mailOf(chosen.bytes);
    const bool yes = context_.ui.askBeforeLosing(
        this, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか\r\n\r\n"
                             "件名: %1\r\n宛先: %2")
                  .arg(held.subject, held.to));
    rtfEd->setFocus();
    Text2->clear();
    if (!yes) {
        rtfEd->clear();
        return;
    }
    ToText->clear();
    SubjectText->clear();
    rtfEd->clear();
    // The file is rewritten off the window's thread; it is crash-safe, so a
    // held mail is never lost whatever happens meanwhile.
    setBusy(true);
    const compose::HeldMailFile file = heldFile(context_);
    job_->start([file, chosen] { return file.remove(chosen); },
                [this](const Status& status) {
                    setBusy(false);
                    if (status.error() == StoreError::Changed) {
                        context_.ui.inform(this,
                                           QStringLiteral("保存したメールの一覧が変わっていたため、"
                                                          "削除しませんでした。"));
                    } else if (!status.ok()) {
                        reportFailure(QStringLiteral("保存したメールを削除できませんでした。"),
                                      status.detail());
                    }
                    listHeldMail();
                    Text2->clear();
                    setCaption(Command17, kRecallCaption);
                });
}

void WriteForm::chooseBulk()
{
    ToText->clear();
    ToText->setEnabled(false);
    ui::setBackgroundColour(ToText, kBulkRecipientColour);
    ui::setBackgroundColour(List1, ui::paletteColour(2));
    const bool yes = context_.ui.ask(
        this,
        QStringLiteral("アドレス帳に登録しているメールアドレスすべてに同様の件名、本文で送信します"
                       "。\r\n\r\n件名、本文入力完了後、送信ボタンをクリックして下さい。"),
        QStringLiteral("確認"));
    if (!yes) {
        ui::setBackgroundColour(List1, ui::paletteColour(15));
        ui::setBackgroundColour(ToText, ui::paletteColour(15));
        Option2->setAutoExclusive(false);
        Option2->setChecked(false);
        Option2->setAutoExclusive(true);
    }
}

void WriteForm::chooseSingle()
{
    ToText->clear();
    ToText->setEnabled(true);
    ui::setBackgroundColour(ToText, ui::paletteColour(15));
    ui::setBackgroundColour(List1, ui::paletteColour(15));
}

} // namespace lumora
