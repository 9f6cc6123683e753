#pragma once

#include "mail/server_certificate.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QPrinter;
class QWidget;

namespace lumora::ui {
class DesktopNotices;
}

// Everything a window asks of the desktop: message boxes, file dialogs, the
// clipboard and the browser. Windows receive a UiServices in their
// constructors and never call QMessageBox or QFileDialog themselves, so that
// tests answer for the user.
namespace lumora {

// The application title, shown by message boxes without a title of their own.
inline const QString kAppTitle = QStringLiteral("ルモラ");

enum class MessageIcon { None, Information, Warning, Critical, Question };
// The button a question's Enter presses. No for a question whose Yes
// destroys something, so that a stray Enter loses nothing.
enum class DefaultAnswer { Yes, No };

class UiServices {
public:
    virtual ~UiServices() = default;

    // A message box with an OK button. An empty title shows the application title.
    virtual void inform(QWidget* parent, const QString& text, const QString& title = {},
                        MessageIcon icon = MessageIcon::None) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool ask(QWidget* parent, const QString& text, const QString& title,
                     MessageIcon icon = MessageIcon::Question,
                     DefaultAnswer byDefault = DefaultAnswer::Yes) = 0;
    // A question whose Yes destroys something (deletes a mail or an entry,
    // throws away what the user wrote): titled "確認", No by default, so
    // that a stray Enter loses nothing. True for Yes.
    bool askBeforeLosing(QWidget* parent, const QString& text)
    {
        return ask(parent, text, QStringLiteral("確認"), MessageIcon::Question, DefaultAnswer::No);
    }
    // A box with OK and Cancel; true for OK.
    virtual bool confirm(QWidget* parent, const QString& text, const QString& title,
                         MessageIcon icon = MessageIcon::Warning) = 0;
    // The print dialog for the printer; false when the user cancels. With
    // selection, the dialog offers to print the selection only.
    virtual bool choosePrinter(QWidget* parent, QPrinter& printer, bool selection) = 0;
    // A file to open or a name to save under; nothing when the user cancels.
    // The filter is in Qt's form, e.g. "テキスト (*.txt *.ini)".
    virtual std::optional<QString> openFileName(QWidget* parent, const QString& caption,
                                                const QString& folder, const QString& filter) = 0;
    virtual std::optional<QString> saveFileName(QWidget* parent, const QString& caption,
                                                const QString& folder, const QString& filter) = 0;
    // A folder to read from or write into; nothing when the user cancels.
    virtual std::optional<QString> folderName(QWidget* parent, const QString& caption,
                                              const QString& folder) = 0;
    // One of the options, by its index; nothing when the user cancels.
    virtual std::optional<int> choose(QWidget* parent, const QString& caption, const QString& text,
                                      const QStringList& options) = 0;
    virtual QString clipboardText() = 0;
    virtual void setClipboardText(const QString& text) = 0;
    // Opens the address in the user's browser; false when that failed.
    virtual bool openUrl(const QUrl& url) = 0;
    // Shows a server certificate that cannot be verified and asks whether
    // to trust it for its server; true when the user trusts it.
    virtual bool trustCertificate(QWidget* parent, const ServerCertificate& certificate) = 0;
    // A notice on the desktop (its notification service); activated runs
    // when the user activates it. False when the desktop cannot be told.
    virtual bool notify(const QString& summary, const QString& body,
                        std::function<void()> activated) = 0;
};

// The real desktop, through Qt.
class QtUiServices final : public UiServices {
public:
    void inform(QWidget* parent, const QString& text, const QString& title,
                MessageIcon icon) override;
    bool ask(QWidget* parent, const QString& text, const QString& title, MessageIcon icon,
             DefaultAnswer byDefault) override;
    bool confirm(QWidget* parent, const QString& text, const QString& title,
                 MessageIcon icon) override;
    bool choosePrinter(QWidget* parent, QPrinter& printer, bool selection) override;
    std::optional<QString> openFileName(QWidget* parent, const QString& caption,
                                        const QString& folder, const QString& filter) override;
    std::optional<QString> saveFileName(QWidget* parent, const QString& caption,
                                        const QString& folder, const QString& filter) override;
    std::optional<QString> folderName(QWidget* parent, const QString& caption,
                                      const QString& folder) override;
    std::optional<int> choose(QWidget* parent, const QString& caption, const QString& text,
                              const QStringList& options) override;
    QString clipboardText() override;
    void setClipboardText(const QString& text) override;
    bool openUrl(const QUrl& url) override;
    bool trustCertificate(QWidget* parent, const ServerCertificate& certificate) override;
    bool notify(const QString& summary, const QString& body,
                std::function<void()> activated) override;
    QtUiServices();
    ~QtUiServices() override;

private:
    std::unique_ptr<ui::DesktopNotices> notices_;
};

} // namespace lumora
