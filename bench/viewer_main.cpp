// Times the real viewer offscreen on a received-mail file: the view action
// until the list is painted and the fields are filled, a row click until the
// body is shown, deleting one mail from the middle (against cp of the same
// file), and the memory the viewer takes. Run by bench/viewer.sh.
//
//     lumora-viewer-bench APP_FOLDER [--delete]

#include "app/app_folder.h"
#include "app/main_form.h"
#include "app/windows.h"
#include "mail/mail_library.h"
#include "store/instance_lock.h"
#include "support/manual_clock.h"
#include "support/scripted_ui.h"
#include "ui/app_context.h"
#include "ui/picture_button.h"
#include "viewer/tyaku_form.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QThread>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Resident and peak memory of this process, in kB.
long status(const char* key)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(key)) {
            return line.mid(static_cast<qsizetype>(std::strlen(key)))
                .trimmed()
                .split(' ')[0]
                .toLong();
        }
    }
    return 0;
}

void resetPeak()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    if (file.open(QIODevice::WriteOnly)) {
        file.write("5");
    }
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ms(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: lumora-viewer-bench APP_FOLDER [--delete]\n");
        return 2;
    }
    const bool timeDelete = args.contains(QStringLiteral("--delete"));
    const lumora::AppPaths paths = lumora::AppPaths::at(args[1]);
    lumora::InstanceLock lock;
    if (!lumora::prepareAppFolder(paths, lock).ok()) {
        std::fprintf(stderr, "cannot use the application folder\n");
        return 1;
    }
    lumora::test::ScriptedUi ui;
    lumora::test::ManualClock clock;
    const auto mail = lumora::createMailLibrary();
    lumora::AppContext context(paths, {}, *mail, ui, clock);
    lumora::Windows windows(context);
    lumora::MainForm mainForm(context, windows);
    mainForm.load();

    // The memory of an empty viewer: the same window on an empty file.
    const QString data = paths.receivedFile();
    const QString hidden = data + QStringLiteral(".bench");
    QFile::rename(data, hidden);
    lumora::TyakuForm* form = windows.window<lumora::TyakuForm>();
    form->openAndFill();
    form->repaint();
    QApplication::processEvents();
    form->close();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QFile::rename(hidden, data);
    const long emptyKb = status("VmRSS:");
    resetPeak();

    std::vector<double> fills;
    std::vector<double> clicks;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        mainForm.Picture5->click();
        form = windows.existing<lumora::TyakuForm>();
        form->repaint(); // the list painted, the fields filled
        fills.push_back(ms(timer));

        QTreeView* list = form->MailListView;
        const QModelIndex index = list->model()->index(2 + run, 0);
        const QPoint at = list->visualRect(index).center();
        timer.restart();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        form->rtfEd->repaint();
        form->Text7->repaint();
        clicks.push_back(ms(timer));
        QApplication::processEvents();
    }
    const long peakKb = status("VmHWM:");
    const int rows = form->MailListView->model()->rowCount();
    std::printf("records %d: fill %.1f ms, click %.2f ms, memory %.1f MB above an empty viewer\n",
                rows, median(fills), median(clicks),
                static_cast<double>(peakKb - emptyKb) / 1024.0);

    if (timeDelete) {
        std::vector<double> deletes;
        std::vector<double> copies;
        std::vector<double> syncedCopies;
        for (int run = 0; run < 3; ++run) {
            // cp of the same file, in the same run, from the same page cache.
            QElapsedTimer timer;
            timer.start();
            QProcess::execute(QStringLiteral("cp"), {data, data + QStringLiteral(".copy")});
            copies.push_back(ms(timer));
            QFile::remove(data + QStringLiteral(".copy"));
            // ... and cp that waits until its copy is on disk, as a deletion
            // must before it replaces the file.
            timer.restart();
            QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"),
                                                     QStringLiteral("cp \"$0\" \"$0.copy\" && "
                                                                    "sync \"$0.copy\""),
                                                     data});
            syncedCopies.push_back(ms(timer));
            QFile::remove(data + QStringLiteral(".copy"));

            QTreeView* list = form->MailListView;
            const QModelIndex middle = list->model()->index(list->model()->rowCount() / 2, 0);
            list->scrollTo(middle);
            QApplication::processEvents();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualRect(middle).center());
            ui.answers = {true};
            timer.restart();
            form->Command3->click();
            while (form->rewriting()) {
                QApplication::processEvents(QEventLoop::AllEvents, 1);
            }
            form->repaint();
            deletes.push_back(ms(timer));
        }
        const double del = median(deletes);
        const double cp = median(copies);
        const double synced = median(syncedCopies);
        std::printf("delete one of %d: %.0f ms; cp %.0f ms, ratio %.2f; cp + sync %.0f ms, "
                    "ratio %.2f\n",
                    rows, del, cp, del / cp, synced, del / synced);
    }
    for (const QString& text : ui.unscripted) {
        std::fprintf(stderr, "unanswered: %s\n", qPrintable(text));
    }
    windows.discardAll();
    return 0;
}
