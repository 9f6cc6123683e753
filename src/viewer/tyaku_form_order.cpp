// The viewer's list in another order: a click on a column heading (or the
// 表示 menu) sorts by subject, sender or date, up, then down, then back to
// the record order. Every action still acts on the mail shown.

#include "viewer/tyaku_form.h"

#include "store/background_job.h"
#include "ui/app_context.h"
#include "viewer/mail_list_model.h"

#include <QHeaderView>
#include <QScopedValueRollback>
#include <QTreeView>

#include <memory>

namespace lumora {

void TyakuForm::sortClicked(int column)
{
    sortOrder_ = viewer::nextOrder(sortOrder_, column);
    applySort();
}

void TyakuForm::applySort()
{
    QHeaderView* header = MailListView->header();
    const bool sorted = sortOrder_.column != viewer::SortColumn::None;
    header->setSortIndicatorShown(sorted);
    header->setSortIndicator(sorted ? static_cast<int>(sortOrder_.column) : -1,
                             sortOrder_.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    if (!sorted) {
        reorder({});
        return;
    }
    if (sortJob_->running()) {
        return; // the sort in hand sees the order has changed when it ends
    }
    auto records = std::make_shared<QList<int>>();
    const QString path = context_.paths.receivedFile();
    const viewer::SortOrder order = sortOrder_;
    const int listing = listings_;
    sortJob_->start(
        [path, order, records] {
            Result<QList<viewer::ListedMail>> mails = MailListModel::listedMails(path);
            if (!mails.ok()) {
                return mails.status();
            }
            *records = viewer::sortedRecords(mails.value(), order);
            return Status::success();
        },
        [this, order, listing, records](const Status& status) {
            if (order != sortOrder_ || listing != listings_ ||
                records->size() != model_->recordCount()) {
                applySort(); // asked for again, or the list changed meanwhile
            } else if (status.ok()) {
                reorder(*records);
            }
        });
}

void TyakuForm::reorder(QList<int> records)
{
    changeRows([&] { model_->setOrder(std::move(records)); });
}

void TyakuForm::changeRows(const std::function<void()>& change)
{
    const bool chosen = MailListView->selectionModel()->hasSelection();
    const QScopedValueRollback listing(listing_, true);
    change();
    // The mail shown keeps its highlight (when it is listed) and the
    // keyboard goes on from it.
    const int row = shown_.number > 0 ? model_->rowOf(static_cast<int>(shown_.number) - 1) : -1;
    if (row >= 0) {
        const QModelIndex index = model_->index(row, 0);
        MailListView->selectionModel()->setCurrentIndex(
            index, chosen ? QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows
                          : QItemSelectionModel::NoUpdate);
        MailListView->scrollTo(index);
    }
}

} // namespace lumora
