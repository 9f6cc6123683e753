// Renders one of the program's windows into a PNG file, on the files of an
// application folder, for looking at a window without clicking through the
// program: lumora-window-shot WINDOW OUT.png APP_FOLDER [ROW]
// WINDOW is "main", "addressbook", "viewer", "compose", "reply" or
// "emoticons"; ROW (from 1) is clicked in the list. The compose window is
// shown widened, with a Japanese mail written into it; the reply window
// answers the viewer's row ROW (1 when none is given) with a line pasted above
// the received text; the emoticon picker has a piece of its page marked.
// "original" shows the viewer's row ROW and the window of its original;
// "importing" shows the viewer while it imports the mbox file named in
// place of ROW, with the progress box open (the whole screen is taken);
// "deleting" the question 一件削除 asks for the viewer's row ROW.
// With LUMORA_SHOT_TABS=N in the environment, the focus is first moved on N
// times from the window's first control, and the focused control's name is
// printed. LUMORA_SHOT_SORT=2,2 clicks the viewer's column headings first;
// LUMORA_SHOT_SEARCH=words searches every mail in the viewer for them.

#include "addressbook/friend_form.h"
#include "app/app_folder.h"
#include "app/main_form.h"
#include "app/windows.h"
#include "compose/write_form.h"
#include "emoticons/kao_form.h"
#include "mail/mail_library.h"
#include "reply/back_form.h"
#include "ui/app_context.h"
#include "ui/clock.h"
#include "ui/geometry.h"
#include "ui/picture_button.h"
#include "ui/ui_services.h"
#include "viewer/original_form.h"
#include "viewer/tyaku_form.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>
#include <QTreeWidget>

#include <QProgressDialog>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {

// The desktop, except that the import's questions are answered: an mbox
// file, the one given; and its closing message only printed.
class ImportAnswers final : public lumora::UiServices {
public:
    explicit ImportAnswers(QString mbox) : mbox_(std::move(mbox)) {}
    void inform(QWidget*, const QString& text, const QString&, lumora::MessageIcon) override
    {
        std::printf("%s\n", qUtf8Printable(text));
    }
    bool ask(QWidget* p, const QString& t, const QString& c, lumora::MessageIcon i,
             lumora::DefaultAnswer d) override
    {
        return real_.ask(p, t, c, i, d);
    }
    bool confirm(QWidget* p, const QString& t, const QString& c, lumora::MessageIcon i) override
    {
        return real_.confirm(p, t, c, i);
    }
    bool choosePrinter(QWidget* p, QPrinter& printer, bool s) override
    {
        return real_.choosePrinter(p, printer, s);
    }
    std::optional<QString> openFileName(QWidget*, const QString&, const QString&,
                                        const QString&) override
    {
        return mbox_;
    }
    std::optional<QString> saveFileName(QWidget* p, const QString& c, const QString& f,
                                        const QString& filter) override
    {
        return real_.saveFileName(p, c, f, filter);
    }
    std::optional<QString> folderName(QWidget* p, const QString& c, const QString& f) override
    {
        return real_.folderName(p, c, f);
    }
    std::optional<int> choose(QWidget*, const QString&, const QString&, const QStringList&) override
    {
        return 0;
    }
    QString clipboardText() override { return real_.clipboardText(); }
    void setClipboardText(const QString& text) override { real_.setClipboardText(text); }
    bool openUrl(const QUrl& url) override { return real_.openUrl(url); }
    bool trustCertificate(QWidget* p, const lumora::ServerCertificate& c) override
    {
        return real_.trustCertificate(p, c);
    }
    bool notify(const QString& summary, const QString& body,
                std::function<void()> activated) override
    {
        return real_.notify(summary, body, std::move(activated));
    }

private:
    lumora::QtUiServices real_;
    QString mbox_;
};

} // namespace

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
    const bool importing = args[1] == QStringLiteral("importing");
    ImportAnswers ui(importing && args.size() > 4 ? args[4] : QString());
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
    } else if (args[1] == QStringLiteral("viewer")) {
        mainForm.Picture5->click();
        auto* form = windows.existing<lumora::TyakuForm>();
        // LUMORA_SHOT_SORT=2,2 clicks the headings of those columns first.
        for (const QString& column :
             qEnvironmentVariable("LUMORA_SHOT_SORT").split(u',', Qt::SkipEmptyParts)) {
            QMetaObject::invokeMethod(form, "sortClicked", Q_ARG(int, column.toInt()));
            QTest::qWait(300);
        }
        // LUMORA_SHOT_SEARCH=words searches every mail for them.
        if (qEnvironmentVariableIsSet("LUMORA_SHOT_SEARCH")) {
            QTest::qWait(500); // the index is made as the viewer opens
            form->SearchText->setText(qEnvironmentVariable("LUMORA_SHOT_SEARCH"));
            QTest::qWait(800);
        }
        if (args.size() > 4) {
            const QModelIndex index = form->MailListView->model()->index(args[4].toInt() - 1, 0);
            form->MailListView->setCurrentIndex(index);
            QTest::mouseClick(form->MailListView->viewport(), Qt::LeftButton, {},
                              form->MailListView->visualRect(index).center());
        }
        shown = form;
    } else if (args[1] == QStringLiteral("compose")) {
        mainForm.Picture3->click();
        auto* form = windows.existing<lumora::WriteForm>();
        form->Command4->click();
        if (args.size() > 4) {
            form->List1->setCurrentRow(args[4].toInt() - 1);
            QMetaObject::invokeMethod(form, "listClicked");
        }
        form->SubjectText->setText(QStringLiteral("忘年会のご案内"));
        form->Combo1->setCurrentIndex(3);
        form->rtfEd->setPlainText(
            QStringLiteral("いつもお世話になっております。\n\n今年も忘年会を開きます。\n"
                           "日時：12月18日（金）19時から\n場所：駅前の「さくら」\n\n"
                           "ご都合をお知らせください。"));
        shown = form;
    } else if (args[1] == QStringLiteral("reply")) {
        mainForm.Picture5->click();
        auto* viewer = windows.existing<lumora::TyakuForm>();
        const int row = args.size() > 4 ? args[4].toInt() - 1 : 0;
        const QModelIndex index = viewer->MailListView->model()->index(row, 0);
        QTest::mouseClick(viewer->MailListView->viewport(), Qt::LeftButton, {},
                          viewer->MailListView->visualRect(index).center());
        viewer->Command5->click();
        auto* form = windows.existing<lumora::BackForm>();
        ui.setClipboardText(QStringLiteral("ご連絡ありがとうございます。承知いたしました。"));
        form->Command4->click();
        shown = form;
    } else if (args[1] == QStringLiteral("original")) {
        mainForm.Picture5->click();
        auto* form = windows.existing<lumora::TyakuForm>();
        const QModelIndex index =
            form->MailListView->model()->index(args.size() > 4 ? args[4].toInt() - 1 : 0, 0);
        QTest::mouseClick(form->MailListView->viewport(), Qt::LeftButton, {},
                          form->MailListView->visualRect(index).center());
        form->moriginal->trigger();
        form->show();
        shown = form->findChild<lumora::OriginalForm*>();
        shown->move(form->x() + 160, form->y() + 90);
    } else if (importing) {
        mainForm.Picture5->click();
        auto* form = windows.existing<lumora::TyakuForm>();
        form->show();
        int status = 1;
        QTimer::singleShot(700, [&status, &args] {
            QApplication::processEvents();
            const QPixmap screen = QApplication::primaryScreen()->grabWindow(0);
            bool found = false;
            for (QWidget* top : QApplication::topLevelWidgets()) {
                found = found || (qobject_cast<QProgressDialog*>(top) && top->isVisible());
            }
            status = found && screen.save(args[2]) ? 0 : 1;
        });
        form->mimport->trigger();
        windows.discardAll();
        if (status != 0) {
            std::fprintf(stderr, "no progress box to take\n");
        }
        return status;
    } else if (args[1] == QStringLiteral("deleting")) {
        // The question before a mail is deleted, over the viewer: taken
        // while it is open, then answered No.
        mainForm.Picture5->click();
        auto* form = windows.existing<lumora::TyakuForm>();
        form->show();
        const QModelIndex index =
            form->MailListView->model()->index(args.size() > 4 ? args[4].toInt() - 1 : 0, 0);
        QTest::mouseClick(form->MailListView->viewport(), Qt::LeftButton, {},
                          form->MailListView->visualRect(index).center());
        int status = 1;
        QTimer::singleShot(500, [&status, &args] {
            QWidget* box = QApplication::activeModalWidget();
            status = box && box->grab().save(args[2]) ? 0 : 1;
            if (box) {
                box->close();
            }
        });
        form->Command3->click();
        windows.discardAll();
        if (status != 0) {
            std::fprintf(stderr, "no question to take\n");
        }
        return status;
    } else if (args[1] == QStringLiteral("emoticons")) {
        mainForm.Picture3->click();
        windows.existing<lumora::WriteForm>()->Command8->click();
        auto* form = windows.existing<lumora::KaoForm>();
        QTextCursor cursor = form->Kao1->textCursor();
        cursor.movePosition(QTextCursor::Down, QTextCursor::MoveAnchor, 4);
        cursor.movePosition(QTextCursor::EndOfLine, QTextCursor::KeepAnchor);
        form->Kao1->setTextCursor(cursor);
        shown = form;
    }
    shown->show();
    QTest::qWait(300); // what windows learn off their thread (the viewer's note) arrives
    if (qEnvironmentVariableIsSet("LUMORA_SHOT_TABS")) {
        // The focus moved on from the window's first control by Tab (Ctrl+Tab
        // where Tab types a tab), as many times as asked.
        shown->activateWindow();
        if (!QTest::qWaitForWindowActive(shown)) {
            std::fprintf(stderr, "the window did not become active\n");
        }
        for (int i = qEnvironmentVariableIntValue("LUMORA_SHOT_TABS"); i > 0; --i) {
            QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : shown;
            auto* editor = qobject_cast<QTextEdit*>(focus);
            const bool typesTab = editor && !editor->isReadOnly() && !editor->tabChangesFocus();
            QTest::keyClick(focus, Qt::Key_Tab, typesTab ? Qt::ControlModifier : Qt::NoModifier);
        }
        QTest::qWait(100);
        if (QWidget* focus = QApplication::focusWidget()) {
            std::printf("%s\n", qUtf8Printable(focus->accessibleName()));
        }
    }
    if (!shown->grab().save(args[2])) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[2]));
        return 1;
    }
    windows.discardAll();
    return 0;
}
