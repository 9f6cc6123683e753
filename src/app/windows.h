#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <typeindex>

namespace lumora {

struct AppContext;
class MainForm;

// Every secondary window, created on first use and kept until it is closed; a
// window asked for after it was closed is made (and loaded) anew. One generic
// accessor serves them all: window<FriendForm>(), show<FriendForm>(),
// existing<FriendForm>().
class Windows : public QObject {
    Q_OBJECT
public:
    explicit Windows(AppContext& context);
    ~Windows() override;

    // Registers the main window, which every other window is wired to.
    void setMainForm(MainForm* main) { main_ = main; }
    MainForm* mainForm() const { return main_; }

    // The window, created (and so loaded) hidden when it does not exist.
    template <class Form> Form* window() { return static_cast<Form*>(windowOf(typeid(Form))); }
    // The window if it exists, without creating it.
    template <class Form> Form* existing() const
    {
        return static_cast<Form*>(existingOf(typeid(Form)));
    }
    // Shows the window modeless in front, creating it when needed.
    template <class Form> Form* show()
    {
        Form* form = window<Form>();
        bringForward(form);
        return form;
    }

    // Shows a mailto: link in the compose window, for the user to send.
    void openLink(const QString& link);

    // Brings the open secondary windows in front of the main window, so that
    // the account dialogs opened at start-up are not hidden behind it.
    void raiseOpenWindows();

    // Destroys every secondary window without running its closing steps, as
    // the program does when the main window ends it.
    void discardAll();

private:
    using Factory = std::function<QWidget*()>;
    template <class Form> void add(Factory factory) { factories_.insert(typeid(Form), factory); }
    void registerWindows();
    QWidget* windowOf(std::type_index type);
    QWidget* existingOf(std::type_index type) const;
    static void bringForward(QWidget* form);

    AppContext& context_;
    MainForm* main_ = nullptr;
    QHash<std::type_index, Factory> factories_;
    QHash<std::type_index, QPointer<QWidget>> open_;
    // Creation order, for raising and discarding.
    QList<std::type_index> order_;
};

} // namespace lumora
