#pragma once

#include <QObject>
#include <QPointer>

namespace lumora {

struct AppContext;
class FriendForm;
class IdPassForm;
class MainForm;
class OptionForm;
class SetForm;

// Creates each secondary window on first use and keeps it until it is
// closed; a window asked for after it was closed is made (and loaded) anew.
class Windows : public QObject {
    Q_OBJECT
public:
    explicit Windows(AppContext& context);
    ~Windows() override;

    void setMainForm(MainForm* main) { main_ = main; }

    // The window, created (and so loaded) hidden when it does not exist.
    OptionForm* optionForm();
    IdPassForm* idPassForm();
    SetForm* setForm();
    FriendForm* friendForm();
    // The window if it exists, without creating it.
    IdPassForm* existingIdPassForm() const;
    SetForm* existingSetForm() const;
    OptionForm* existingOptionForm() const;
    FriendForm* existingFriendForm() const;

    // Shows the window modeless, creating it when needed.
    void showOptionForm();
    void showIdPassForm();
    void showSetForm();
    void showFriendForm();

    // Brings the open secondary windows in front of the main window, so that
    // the account dialogs opened at start-up are not hidden behind it.
    void raiseOpenWindows();

    // Destroys every secondary window without running its closing steps, as
    // the program does when the main window ends it.
    void discardAll();

private:
    AppContext& context_;
    MainForm* main_ = nullptr;
    QPointer<OptionForm> option_;
    QPointer<IdPassForm> idPass_;
    QPointer<SetForm> set_;
    QPointer<FriendForm> friend_;
};

} // namespace lumora
