// Renders one of the program's windows into a PNG file, on the files of an
// application folder, for looking at a window without clicking through the
// program: lumora-window-shot WINDOW OUT.png APP_FOLDER [ROW]
// WINDOW is "main" or "addressbook"; ROW (from 1) is pressed in the list.

#include "addressbook/friend_form.h"
#include "app/app_folder.h"
#include "app/main_form.h"
#include "app/windows.h"
#include "mail/mail_library.h"
#include "ui/app_context.h"
#include "ui/clock.h"
#include "ui/geometry.h"
#include "ui/ui_services.h"

#include <QApplication>
#include <QTreeWidget>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setFont(lumora::ui::fontFamily(QStringLiteral("ＭＳ Ｐゴシック"), 9));
    const QStringList args = QApplication::arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: lumora-window-shot WINDOW OUT.png APP_FOLDER [ROW]\n");
        return 2;
    }
    const lumora::AppPaths paths = lumora::AppPaths::at(args[3]);
    lumora::InstanceLock lock;
    if (!lumora::prepareAppFolder(paths, lock).ok()) {
        std::fprintf(stderr, "cannot use the application folder\n");
        return 1;
    }
    lumora::QtUiServices ui;
    lumora::SystemClock clock;
    const auto mail = lumora::createMailLibrary();
    lumora::AppContext context{paths, {}, *mail, ui, clock};
    lumora::Windows windows(context);
    lumora::MainForm mainForm(context, windows);
    mainForm.load();

    QWidget* shown = &mainForm;
    if (args[1] == QStringLiteral("addressbook")) {
        lumora::FriendForm* form = windows.window<lumora::FriendForm>();
        if (args.size() > 4) {
            const int row = args[4].toInt() - 1;
            if (QTreeWidgetItem* item = form->MailListView->topLevelItem(row)) {
                form->MailListView->setCurrentItem(item);
                QMetaObject::invokeMethod(form, "selectEntry");
            }
        }
        shown = form;
    }
    shown->show();
    QApplication::processEvents();
    if (!shown->grab().save(args[2])) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[2]));
        return 1;
    }
    windows.discardAll();
    return 0;
}
