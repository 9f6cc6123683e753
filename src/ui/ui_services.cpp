#include "ui/ui_services.h"

#include "ui/certificate_box.h"
#include "ui/desktop_notices.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

namespace lumora {
namespace {

QMessageBox::Icon toQt(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

std::optional<QString> chosen(const QString& name)
{
    if (name.isEmpty()) {
        return std::nullopt;
    }
    return name;
}

} // namespace

void QtUiServices::inform(QWidget* parent, const QString& text, const QString& title,
                          MessageIcon icon)
{
    QMessageBox box(toQt(icon), title.isEmpty() ? kAppTitle : title, text, QMessageBox::Ok, parent);
    box.exec();
}

bool QtUiServices::ask(QWidget* parent, const QString& text, const QString& title, MessageIcon icon,
                       DefaultAnswer byDefault)
{
    QMessageBox box(toQt(icon), title.isEmpty() ? kAppTitle : title, text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    box.setDefaultButton(byDefault == DefaultAnswer::No ? QMessageBox::No : QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool QtUiServices::confirm(QWidget* parent, const QString& text, const QString& title,
                           MessageIcon icon)
{
    QMessageBox box(toQt(icon), title.isEmpty() ? kAppTitle : title, text,
                    QMessageBox::Ok | QMessageBox::Cancel, parent);
    return box.exec() == QMessageBox::Ok;
}

bool QtUiServices::choosePrinter(QWidget* parent, QPrinter& printer, bool selection)
{
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, selection);
    if (selection) {
        printer.setPrintRange(QPrinter::Selection);
    }
    return dialog.exec() == QDialog::Accepted;
}

std::optional<QString> QtUiServices::openFileName(QWidget* parent, const QString& caption,
                                                  const QString& folder, const QString& filter)
{
    return chosen(QFileDialog::getOpenFileName(parent, caption, folder, filter));
}

std::optional<QString> QtUiServices::saveFileName(QWidget* parent, const QString& caption,
                                                  const QString& folder, const QString& filter)
{
    return chosen(QFileDialog::getSaveFileName(parent, caption, folder, filter));
}

std::optional<QString> QtUiServices::folderName(QWidget* parent, const QString& caption,
                                                const QString& folder)
{
    return chosen(QFileDialog::getExistingDirectory(parent, caption, folder));
}

std::optional<int> QtUiServices::choose(QWidget* parent, const QString& caption,
                                        const QString& text, const QStringList& options)
{
    bool ok = false;
    const QString item = QInputDialog::getItem(parent, caption, text, options, 0, false, &ok);
    if (!ok) {
        return std::nullopt;
    }
    return static_cast<int>(options.indexOf(item));
}

QString QtUiServices::clipboardText()
{
    return QApplication::clipboard()->text();
}

void QtUiServices::setClipboardText(const QString& text)
{
    QApplication::clipboard()->setText(text);
}

bool QtUiServices::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

QtUiServices::QtUiServices() = default;
QtUiServices::~QtUiServices() = default;

bool QtUiServices::notify(const QString& summary, const QString& body,
                          std::function<void()> activated)
{
    if (!notices_) {
        notices_ = std::make_unique<ui::DesktopNotices>();
    }
    return notices_->show(summary, body, std::move(activated));
}

bool QtUiServices::trustCertificate(QWidget* parent, const ServerCertificate& certificate)
{
    const std::unique_ptr<QMessageBox> box = ui::certificateBox(parent, certificate);
    box->exec();
    return box->buttonRole(box->clickedButton()) == QMessageBox::AcceptRole;
}

} // namespace lumora
