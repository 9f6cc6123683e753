#include "compose/attachment_controls.h"

#include "ui/accessibility.h"
#include "ui/geometry.h"
#include "ui/ui_services.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace lumora {

AttachmentControls::AttachmentControls(Controls controls, QWidget* window, UiServices& ui,
                                       int& listClicks)
    : QObject(window), c_(controls), window_(window), ui_(ui), listClicks_(listClicks)
{
    connect(c_.first, &QPushButton::clicked, this, &AttachmentControls::chooseFirst);
    connect(c_.add, &QPushButton::clicked, this, &AttachmentControls::chooseMore);
    connect(c_.cancel, &QPushButton::clicked, this, &AttachmentControls::cancelAll);
    if (c_.list) {
        connect(c_.list, &QPushButton::clicked, this, &AttachmentControls::toggleList);
    }
}

QStringList AttachmentControls::files()
{
    list_.takeText(c_.text->text());
    return list_.paths();
}

void AttachmentControls::reset()
{
    c_.first->setEnabled(true);
    c_.add->setEnabled(true);
    c_.cancel->setEnabled(true);
    c_.names->setVisible(false);
}

void AttachmentControls::prepareSend()
{
    c_.add->setEnabled(false);
    c_.names->setVisible(false);
    c_.first->setEnabled(true);
}

std::optional<QString> AttachmentControls::chooseFile()
{
    // Read-only files are offered like any other: they are only read.
    std::optional<QString> path =
        ui_.openFileName(window_, QStringLiteral("添付ファイルの選択"), QString(), QString());
    if (!path || path->isEmpty()) {
        return std::nullopt;
    }
    return path;
}

void AttachmentControls::chooseFirst()
{
    c_.add->setEnabled(true);
    if (const auto path = chooseFile()) {
        // After a send that failed the button is on again while files are
        // still chosen: they stay, and this one joins them, so the list
        // shows what will be sent.
        list_.takeText(c_.text->text());
        if (list_.isEmpty()) {
            list_.set(*path);
        } else {
            list_.add(*path);
        }
        c_.text->setText(list_.joined());
        c_.names->clear();
        c_.names->addItems(list_.titles());
    }
    c_.first->setEnabled(false);
}

void AttachmentControls::chooseMore()
{
    c_.names->setVisible(true);
    if (c_.text->text().isEmpty()) {
        return;
    }
    if (const auto path = chooseFile()) {
        list_.takeText(c_.text->text());
        list_.add(*path);
        c_.text->setText(list_.joined());
        c_.names->addItem(QFileInfo(*path).fileName());
    }
}

void AttachmentControls::cancelAll()
{
    list_.clear();
    c_.text->clear();
    c_.names->clear();
    c_.names->setVisible(false);
    c_.add->setEnabled(false);
    c_.cancel->setEnabled(false);
    c_.first->setEnabled(true);
}

void AttachmentControls::toggleList()
{
    if (!c_.list) {
        return;
    }
    if (listClicks_ % 2 == 0) {
        ui::setBackgroundColour(c_.list, ui::paletteColour(14));
        c_.list->setText(QStringLiteral("非表示"));
        c_.list->setAccessibleName(ui::captionName(c_.list->text()));
        c_.names->setVisible(false);
    } else {
        ui::setBackgroundColour(c_.list, QColor(192, 192, 192));
        c_.list->setText(QStringLiteral("表示"));
        c_.list->setAccessibleName(ui::captionName(c_.list->text()));
        c_.names->setVisible(true);
    }
    listClicks_ = static_cast<qint16>(listClicks_ + 1);
}

} // namespace lumora
