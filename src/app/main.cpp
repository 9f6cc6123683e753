// The composition root: finds the application folder, makes the shared
// objects and starts the main window.

#include "app/app_folder.h"
#include "app/instance_channel.h"
#include "app/main_form.h"
#include "app/unix_signals.h"
#include "app/windows.h"
#include "compose/mailto_link.h"
#include "mail/mail_library.h"
#include "mail/receive_child.h"
#include "store/bulk_memory.h"
#include "ui/app_context.h"
#include "ui/clock.h"
#include "ui/geometry.h"
#include "ui/translations.h"
#include "ui/ui_services.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], lumora::kReceiveChildArgument) == 0) {
        // Started by the program to receive: no window, no display.
        return lumora::receiveChildMain(argc, argv);
    }
    // Before any thread: what a receive frees can then all be given back.
    lumora::memory::useOnePool();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lumora"));
    // The desktop entry's name, so a desktop matches the windows to it.
    QApplication::setDesktopFileName(QStringLiteral("jp.lumora.Lumora"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icon/48.png"));
    icon.addFile(QStringLiteral(":/icon/128.png"));
    QApplication::setWindowIcon(icon);
    // No display name: the platform would add it to every window title
    // ("ルモラ Ver 1.0 — ルモラ"). Message boxes name the program themselves.
    QApplication::setFont(lumora::ui::fontFamily(QStringLiteral("ＭＳ Ｐゴシック"), 9));
    // Only the main window ends the program, through its shut-down.
    QApplication::setQuitOnLastWindowClosed(false);
    if (!lumora::ui::installJapaneseQtTexts(app, lumora::ui::qtTranslationFolders())) {
        std::fprintf(stderr, "lumora: Qt's Japanese translations were not found; "
                             "its own buttons and dialogs stay in English\n");
    }

    lumora::QtUiServices ui;
    const lumora::AppPaths paths =
        lumora::AppPaths::locate(QApplication::applicationDirPath(),
                                 qEnvironmentVariable("XDG_DATA_HOME"), QDir::homePath());

    // The one argument the program takes: a mailto: link, as the desktop
    // passes it when the user clicks one. Anything else is ignored.
    QString link;
    for (const QString& argument : QApplication::arguments().mid(1)) {
        if (lumora::compose::isMailtoLink(argument)) {
            link = argument;
            break;
        }
    }
    const std::optional<QString> socketPath = lumora::InstanceChannel::socketPath(
        qEnvironmentVariable("XDG_RUNTIME_DIR"), paths.appFolder());

    lumora::InstanceLock lock;
    QStringList kept;
    std::future<lumora::Status> bundled;
    const lumora::Status prepared = lumora::prepareAppFolder(paths, lock, &kept, &bundled);
    if (prepared.error() == lumora::StoreError::Locked) {
        // The running program takes the link, or at least comes to the front.
        using Handover = lumora::InstanceChannel::Handover;
        const Handover handover =
            socketPath ? lumora::InstanceChannel::send(*socketPath, link) : Handover::NotTheUser;
        if (handover == Handover::Delivered && !link.isEmpty()) {
            return 0;
        }
        QString text = QStringLiteral("ルモラはすでに起動しています。\n"
                                      "同じデータを二つのルモラで同時に使うことはできません。");
        if (!link.isEmpty() && handover == Handover::TooLong) {
            text = QStringLiteral("メールのリンクが長すぎるため、開けませんでした"
                                  "（%1 KB、開けるのは %2 KB までです）。")
                       .arg(link.toUtf8().size() / 1024)
                       .arg(lumora::InstanceChannel::kMaxRequestBytes / 1024);
        } else if (!link.isEmpty()) {
            text += QStringLiteral("\nメールのリンクは、起動中のルモラに渡せませんでした。");
        }
        ui.inform(nullptr, text, {}, lumora::MessageIcon::Information);
        return 1;
    }
    const auto cannotPrepare = [&ui](const lumora::Status& status) {
        ui.inform(nullptr,
                  QStringLiteral("データフォルダを準備できませんでした。\n") + status.detail(), {},
                  lumora::MessageIcon::Critical);
        return 1;
    };
    if (!prepared.ok()) {
        return cannotPrepare(prepared);
    }

    // The server file is read from the folder the program works in (made
    // just now on a first start).
    QDir::setCurrent(paths.workingFolder(QDir::currentPath()));

    if (!kept.isEmpty()) {
        // Told once: the next start finds nothing to repair.
        ui.inform(nullptr,
                  QStringLiteral("前回、メールやアドレス帳の削除が途中で終わっていました。"
                                 "ファイルは直しましたが、念のため、もう一方のファイルを"
                                 "次の場所に残してあります。\n") +
                      kept.join(u'\n'),
                  {}, lumora::MessageIcon::Information);
    }
    lumora::SystemClock clock;
    lumora::MailLibraryOptions mailOptions;
    mailOptions.partialFolder = paths.partialFolder();
    mailOptions.trustFile = paths.trustFile();
    mailOptions.tlsMemoryFile = paths.tlsMemoryFile();
    const auto mail = lumora::createMailLibrary(mailOptions);
    lumora::AppContext context{paths, {}, *mail, ui, clock};
    context.receiveProgram = QApplication::applicationFilePath();
    lumora::Windows windows(context);
    lumora::MainForm mainForm(context, windows);
    QObject::connect(&mainForm, &lumora::MainForm::ended, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    lumora::UnixSignals termination;
    QObject::connect(&termination, &lumora::UnixSignals::terminationRequested, &mainForm,
                     &lumora::MainForm::endUnattended);

    // The window was made while the program's own files were put in place;
    // it shows them from here on.
    if (const lumora::Status installed = bundled.get(); !installed.ok()) {
        return cannotPrepare(installed);
    }
    mainForm.load();
    mainForm.show();
    windows.raiseOpenWindows();

    lumora::InstanceChannel channel(socketPath.value_or(QString()));
    QObject::connect(&channel, &lumora::InstanceChannel::raiseRequested, &mainForm, [&mainForm] {
        mainForm.setWindowState(mainForm.windowState() & ~Qt::WindowMinimized);
        mainForm.show();
        mainForm.raise();
        mainForm.activateWindow();
    });
    QObject::connect(&channel, &lumora::InstanceChannel::linkReceived, &windows,
                     &lumora::Windows::openLink);
    if (!socketPath || !channel.listen()) {
        std::fprintf(stderr,
                     "lumora: no private folder for the hand-over socket (%s); a second start "
                     "cannot reach this one\n",
                     qPrintable(socketPath.value_or(lumora::InstanceChannel::fallbackFolder())));
    }
    if (!link.isEmpty()) {
        windows.openLink(link);
    }
    return QApplication::exec();
}
