// The viewer's search across every stored mail: as the user types into
// SearchText the list shows the mails that match, in the list's order;
// Escape or an empty box shows every mail again. The index behind it is
// brought in step whenever the list is (re)filled.

#include "viewer/tyaku_form.h"

#include "search/mail_search.h"
#include "store/background_job.h"
#include "ui/app_context.h"
#include "viewer/mail_list_model.h"

#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QTreeView>

#include <memory>

namespace lumora {

void TyakuForm::searchTextChanged()
{
    if (SearchText->text().trimmed().isEmpty()) {
        searchDelay_->stop();
        showMatches(std::nullopt);
        showStatus(QString());
        return;
    }
    searchDelay_->start(); // a few keys typed quickly make one search
}

void TyakuForm::searchAllMail()
{
    const QString typed = SearchText->text().trimmed();
    if (typed.isEmpty() || searchJob_->running()) {
        return; // the search in hand looks again when it ends
    }
    auto found = std::make_shared<QList<int>>();
    search::MailSearch search(context_.paths);
    const int listing = listings_;
    searchJob_->start(
        [search, typed, found]() mutable {
            Result<QList<int>> records = search.find(typed);
            if (!records.ok()) {
                return records.status();
            }
            *found = std::move(records).value();
            return Status::success();
        },
        [this, typed, listing, found](const Status& status) {
            const QString now = SearchText->text().trimmed();
            if (now.isEmpty()) {
                return;
            }
            if (now != typed || listing != listings_) {
                searchAllMail(); // typed on, or the list changed meanwhile
                return;
            }
            if (!status.ok()) {
                showStatus(QStringLiteral("検索できませんでした。"), status.detail());
                return;
            }
            showMatches(*found);
            // Short, beside the copy button; the whole sentence for a
            // screen reader and the tool tip.
            const QString said =
                found->isEmpty()
                    ? QStringLiteral("「%1」に一致するメールはありません。").arg(typed)
                    : QStringLiteral("「%1」に一致するメール %2 通").arg(typed).arg(found->size());
            showStatus(found->isEmpty() ? QStringLiteral("一致なし")
                                        : QStringLiteral("%1 通が一致").arg(found->size()),
                       said);
        });
}

void TyakuForm::showMatches(const std::optional<QList<int>>& records)
{
    if (!records && !model_->filtered()) {
        return;
    }
    changeRows([&] { model_->setFilter(records); });
}

void TyakuForm::updateIndex()
{
    if (indexJob_->running()) {
        indexAgain_ = true;
        return;
    }
    indexStop_ = false;
    search::MailSearch search(context_.paths);
    const QPointer<TyakuForm> window(this);
    // Progress is said only for a long run (a new index of many mails).
    const auto progress = [window](int done, int total) {
        if (total < 500) {
            return;
        }
        QMetaObject::invokeMethod(
            window,
            [window, done, total] {
                if (window && done < total) {
                    window->showStatus(QStringLiteral("検索用の索引を作っています… %1 / %2 通")
                                           .arg(done)
                                           .arg(total));
                } else if (window) {
                    window->showStatus(QString());
                }
            },
            Qt::QueuedConnection);
    };
    indexJob_->start(
        [search, progress, stop = &indexStop_]() mutable { return search.update(progress, stop); },
        [this](const Status&) {
            if (std::exchange(indexAgain_, false)) {
                updateIndex();
            } else if (!SearchText->text().trimmed().isEmpty()) {
                searchAllMail(); // what the index now holds may match too
            }
        });
}

} // namespace lumora
