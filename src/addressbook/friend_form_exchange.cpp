// The address book's exchange with other programs: reading vCard and CSV
// files into it, writing it out as vCard 4.0 or CSV.

#include "addressbook/friend_form.h"

#include "addressbook/address_book.h"
#include "addressbook/address_exchange.h"
#include "store/file_io.h"
#include "ui/app_context.h"
#include "ui/progress_run.h"
#include "ui/ui_services.h"

#include <QAction>
#include <QDir>
#include <QTreeWidget>

namespace lumora {
namespace {

const QString kImportCaption = QStringLiteral("アドレス帳を読み込む");
const QString kExportCaption = QStringLiteral("アドレス帳を書き出す");
// A book of 32767 entries is a few megabytes in any format.
constexpr qint64 kMaxAddressFileBytes = qint64(64) << 20;

} // namespace

void FriendForm::createExchangeActions()
{
    // Menu items are named by their captions.
    mimportaddresses = new QAction(QStringLiteral("アドレス帳を読み込む…"), MailListView);
    mimportaddresses->setObjectName(QStringLiteral("mimportaddresses"));
    mimportaddresses->setToolTip(QStringLiteral("vCard や CSV のアドレス帳を読み込みます"));
    mexportaddresses = new QAction(QStringLiteral("アドレス帳を書き出す…"), MailListView);
    mexportaddresses->setObjectName(QStringLiteral("mexportaddresses"));
    mexportaddresses->setToolTip(QStringLiteral("アドレス帳を vCard か CSV に書き出します"));
    MailListView->addAction(mimportaddresses);
    MailListView->addAction(mexportaddresses);
    MailListView->setContextMenuPolicy(Qt::ActionsContextMenu);
    MailListView->setAccessibleName(QStringLiteral("アドレス帳"));
    MailListView->setAccessibleDescription(
        QStringLiteral("登録したアドレスの一覧です。右クリックのメニューで、ほかのプログラムの"
                       "アドレス帳（vCard、CSV）を読み込み、書き出せます。"));
}

void FriendForm::importAddresses()
{
    const std::optional<QString> path = context_.ui.openFileName(
        this, kImportCaption, QDir::homePath(),
        QStringLiteral("アドレス帳 (*.vcf *.vcard *.csv);;すべてのファイル (*)"));
    if (!path) {
        return;
    }
    // Read, parsed and written off the window's thread: a large book does
    // not freeze the windows (nor the interval check).
    addresses::AddOutcome outcome;
    QString problem;
    bool none = false;
    ui::runWithProgress(this, kImportCaption, QStringLiteral("アドレス帳を読み込んでいます"),
                        [&](ui::ProgressReport&) {
                            const Result<QByteArray> bytes =
                                fileio::readPlainFile(*path, kMaxAddressFileBytes);
                            if (!bytes.ok()) {
                                problem = bytes.status().detail();
                                return;
                            }
                            const QList<AddressEntry> entries =
                                addresses::readAddressFile(bytes.value());
                            none = entries.isEmpty();
                            if (!none) {
                                outcome = addresses::addNew(*book_, entries);
                            }
                        });
    if (!problem.isEmpty()) {
        context_.ui.inform(this, QStringLiteral("ファイルを読み込めませんでした。\n") + problem, {},
                           MessageIcon::Warning);
        return;
    }
    if (none) {
        context_.ui.inform(this, QStringLiteral("このファイルにはメールアドレスが見つかりません"
                                                "でした。\n") +
                                     *path);
        return;
    }
    reloadList();
    QString text = QStringLiteral("%1 件を登録しました。").arg(outcome.added);
    if (outcome.skipped > 0) {
        text += QStringLiteral("\n%1 件は登録済みか、アドレスがないため飛ばしました。")
                    .arg(outcome.skipped);
    }
    if (outcome.full) {
        text += QStringLiteral("\nアドレス帳の上限（%1件）に達したため、残りは登録していません。")
                    .arg(AddressBook::kMaxEntries);
    }
    if (!outcome.status.ok()) {
        reportFailure(text + QStringLiteral("\nアドレス帳に書き込めませんでした。"));
        return;
    }
    context_.ui.inform(this, text);
}

void FriendForm::exportAddresses()
{
    const std::optional<int> format = context_.ui.choose(
        this, kExportCaption, QStringLiteral("形式:"),
        {QStringLiteral("vCard 4.0 (.vcf)"), QStringLiteral("CSV、UTF-8 (.csv)")});
    if (!format || *format < 0) {
        return;
    }
    const bool vcard = *format == 0;
    const std::optional<QString> path = context_.ui.saveFileName(
        this, kExportCaption, QDir::homePath(),
        vcard ? QStringLiteral("vCard (*.vcf)") : QStringLiteral("CSV (*.csv)"));
    if (!path) {
        return;
    }
    const Result<QList<AddressEntry>> entries = book_->entries();
    if (!entries.ok()) {
        reportFailure(QStringLiteral("アドレス帳を読み込めませんでした。"));
        return;
    }
    const QByteArray bytes =
        vcard ? addresses::writeVCards(entries.value()) : addresses::writeCsv(entries.value());
    if (!fileio::writeAtomically(*path, bytes).ok()) {
        context_.ui.inform(this, QStringLiteral("ファイルを保存できませんでした。\n") + *path, {},
                           MessageIcon::Warning);
        return;
    }
    context_.ui.inform(
        this, QStringLiteral("%1 件を書き出しました。\n%2").arg(entries.value().size()).arg(*path));
}

} // namespace lumora
