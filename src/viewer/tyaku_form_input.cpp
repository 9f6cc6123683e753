// How the viewer follows the user's hand: a row chosen by the mouse, the
// keyboard or a screen reader, the explanations and the copy field under the
// mouse, and the keys its list and search box take.

#include "viewer/tyaku_form.h"

#include "store/numeric_text.h"
#include "ui/app_context.h"
#include "ui/geometry.h"
#include "ui/ui_services.h"
#include "viewer/mail_list_model.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTreeView>

namespace lumora {

void TyakuForm::rowSelected()
{
    if (!listing_) {
        const int row = selectedRow();
        if (row >= 0) {
            chooseRow(row);
        }
    }
}

void TyakuForm::rowChosen(const QModelIndex& index)
{
    if (index.isValid()) {
        chooseRow(index.row());
    }
}

void TyakuForm::chooseRow(int row)
{
    Text5->setText(QStringLiteral("1"));
    if (text::leadingNumber(Text2->text()) == 0) {
        context_.ui.inform(this, QStringLiteral("選択するデータがありません。"));
        return;
    }
    // A row chosen again (a click on the selected row, Enter) shows its
    // mail again only when the fields hold another one.
    if (row >= 0 && shown_.number != model_->recordAt(row) + 1) {
        showRow(row);
    }
}

void TyakuForm::pointerOver(QObject* watched)
{
    if (watched == MailListView->viewport() || watched == rtfEd->viewport()) {
        Text4->setVisible(false);
        if (watched == MailListView->viewport()) {
            Text4->clear();
        }
        ui::setBackgroundColour(Command1, ui::paletteColour(8));
        return;
    }
    const std::pair<QLineEdit*, int> fields[] = {{Text7, 14}, {Text8, 9}, {Text9, 15}};
    for (const auto& [box, colour] : fields) {
        if (watched == box) {
            Text6->setText(box->text());
            ui::setBackgroundColour(Command1, ui::paletteColour(colour));
            return;
        }
    }
    if (const QString text = explanationFor(watched); !text.isEmpty()) {
        Text4->setPlainText(text);
        Text4->setVisible(true);
        Text4->raise();
    }
}

bool TyakuForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove) {
        if (watched == client_) {
            const auto* move = static_cast<QMouseEvent*>(event);
            if (!client_->childAt(move->position().toPoint())) {
                layOut();
            }
        } else {
            pointerOver(watched);
        }
    } else if (event->type() == QEvent::MouseButtonRelease && watched == MailListView->viewport()) {
        // A click below the rows chooses the selected row again (none in an
        // empty list, which is said).
        const auto* click = static_cast<QMouseEvent*>(event);
        if (click->button() == Qt::LeftButton &&
            !MailListView->indexAt(click->position().toPoint()).isValid()) {
            chooseRow(selectedRow());
        }
    } else if (event->type() == QEvent::KeyPress && watched == SearchText &&
               static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        SearchText->clear(); // the whole list again
        return true;
    } else if (event->type() == QEvent::KeyPress && watched == MailListView &&
               model_->rowCount() == 0) {
        // Enter or the space bar on an empty list says so, as a click does.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            chooseRow(-1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lumora
