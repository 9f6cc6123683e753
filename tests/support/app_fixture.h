#pragma once

#include "app/app_folder.h"
#include "app/main_form.h"
#include "app/windows.h"
#include "store/instance_lock.h"
#include "support/manual_clock.h"
#include "support/recording_mail_library.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"
#include "ui/app_context.h"
#include "ui/clock.h"

#include <QCoreApplication>
#include <QDir>

#include <memory>

namespace lumora::test {

// A whole program in a throw-away folder: the application folder, a
// working folder for the server file, scripted desktop services and a mail
// library that records its calls. Files can be put in place before start().
class AppFixture {
public:
    AppFixture() : previousCwd_(QDir::currentPath())
    {
        QDir().mkpath(appFolder());
        QDir().mkpath(workFolder());
        QDir().mkpath(appFolder() + QStringLiteral("/★MailData"));
        QDir::setCurrent(workFolder());
    }
    ~AppFixture()
    {
        mainForm.reset();
        windows.reset();
        QDir::setCurrent(previousCwd_);
    }

    QString appFolder() const { return root.file(QStringLiteral("app")); }
    QString workFolder() const { return root.file(QStringLiteral("work")); }
    QString dataFile(const QString& name) const
    {
        return appFolder() + QStringLiteral("/★MailData/") + name;
    }
    void writeData(const QString& name, const QByteArray& bytes) const
    {
        root.write(QStringLiteral("app/★MailData/") + name, bytes);
    }
    QByteArray readData(const QString& name) const
    {
        return root.read(QStringLiteral("app/★MailData/") + name);
    }
    void writeServerFile(const QByteArray& bytes) const
    {
        root.write(QStringLiteral("work/kurodo.ini"), bytes);
    }
    // A server file and stored ID and password, so that no dialog opens.
    void writeCompleteAccount() const
    {
        writeServerFile(
            "SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=taro@example.jp\r\nAPOP=0\r\n");
        writeData(QStringLiteral("iniIdPass.ini"), "[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\n");
    }

    // Readies the folder as main() does, builds the windows and runs the
    // main window's load step.
    bool start()
    {
        paths = AppPaths::at(appFolder());
        lock = std::make_unique<InstanceLock>();
        if (!prepareAppFolder(paths, *lock).ok()) {
            return false;
        }
        context.reset(new AppContext{paths, {}, library ? *library : mail, ui, clock});
        windows = std::make_unique<Windows>(*context);
        mainForm = std::make_unique<MainForm>(*context, *windows);
        mainForm->load();
        return true;
    }

    // Lets windows closed with close() go, as the event loop would.
    static void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Ends the program in the fixture and starts it again on the same files.
    static bool restartIn(AppFixture& app)
    {
        app.mainForm.reset();
        app.windows.reset();
        app.context.reset();
        app.lock.reset();
        app.mail.calls.clear();
        return app.start();
    }

    TempFolder root;
    AppPaths paths;
    std::unique_ptr<InstanceLock> lock;
    ScriptedUi ui;
    RecordingMailLibrary mail;
    // Another library to run with instead of the recording one.
    MailLibrary* library = nullptr;
    ManualClock clock;
    std::unique_ptr<AppContext> context;
    std::unique_ptr<Windows> windows;
    std::unique_ptr<MainForm> mainForm;

private:
    QString previousCwd_;
};

} // namespace lumora::test
