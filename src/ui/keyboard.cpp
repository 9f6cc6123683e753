#include "ui/keyboard.h"

#include "ui/accessibility.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QShortcut>
#include <QWidget>

namespace lumora::ui {
namespace {

bool isEnter(const QKeyEvent* key)
{
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && mods == Qt::NoModifier;
}

// Clicks a focused button on Enter.
class EnterClicks : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && isEnter(static_cast<QKeyEvent*>(event))) {
            auto* button = qobject_cast<QAbstractButton*>(watched);
            if (button && button->isEnabled() && !button->isCheckable()) {
                button->click();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

// Moves on from an editor on Ctrl+Tab.
class CtrlTabLeaves : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const bool ctrl = key->modifiers().testFlag(Qt::ControlModifier);
            if (ctrl && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)) {
                const bool back =
                    key->key() == Qt::Key_Backtab || key->modifiers().testFlag(Qt::ShiftModifier);
                moveFocus(static_cast<QWidget*>(watched), !back);
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void prepareKeyboard(QWidget* window, EscapeKey escape)
{
    installAccessibility();
    auto* enter = new EnterClicks(window);
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        button->installEventFilter(enter);
    }
    if (escape == EscapeKey::Closes) {
        auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), window);
        close->setContext(Qt::WindowShortcut);
        QObject::connect(close, &QShortcut::activated, window, &QWidget::close);
    }
}

void ctrlTabLeaves(QWidget* editor)
{
    editor->installEventFilter(new CtrlTabLeaves(editor));
}

void moveFocus(QWidget* from, bool forward)
{
    // A Tab the window itself receives moves the focus on from its focus
    // widget, as Tab does from any control that does not type it.
    QKeyEvent tab(QEvent::KeyPress, forward ? Qt::Key_Tab : Qt::Key_Backtab,
                  forward ? Qt::NoModifier : Qt::ShiftModifier);
    QCoreApplication::sendEvent(from->window(), &tab);
}

void setTabChain(std::initializer_list<QWidget*> controls)
{
    QWidget* previous = nullptr;
    for (QWidget* control : controls) {
        if (previous) {
            QWidget::setTabOrder(previous, control);
        }
        previous = control;
    }
}

} // namespace lumora::ui
