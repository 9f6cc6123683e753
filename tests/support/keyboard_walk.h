#pragma once

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QComboBox>
#include <QStringList>
#include <QTest>
#include <QWidget>

#include <functional>
#include <initializer_list>

namespace lumora::test {

inline QStringList objectNames(std::initializer_list<const char*> list)
{
    QStringList out;
    for (const char* name : list) {
        out << QString::fromUtf8(name);
    }
    return out;
}

// Shows the window and makes it the active one, so that keys reach it.
inline bool activate(QWidget* window)
{
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

// The object names of the controls Tab goes through, from first, once
// round the window; where Tab types a tab, Ctrl+Tab moves on.
inline QStringList tabChain(QWidget* first)
{
    QStringList names;
    first->setFocus(Qt::TabFocusReason);
    QWidget* focus = QApplication::focusWidget();
    for (int i = 0; focus && i < 100; ++i) {
        names << focus->objectName();
        QTest::keyClick(focus, Qt::Key_Tab);
        if (QApplication::focusWidget() == focus) {
            QTest::keyClick(focus, Qt::Key_Tab, Qt::ControlModifier);
        }
        focus = QApplication::focusWidget();
        if (focus == first) {
            break;
        }
    }
    return names;
}

// Every widget a screen reader can reach from the window, walking its
// accessibility tree.
inline QList<QWidget*> accessibleWidgets(QWidget* window)
{
    QList<QWidget*> found;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        if (!node) {
            return;
        }
        if (auto* widget = qobject_cast<QWidget*>(node->object())) {
            found << widget;
        }
        for (int i = 0; i < node->childCount(); ++i) {
            walk(node->child(i));
        }
    };
    walk(QAccessible::queryAccessibleInterface(window));
    return found;
}

// The controls a screen reader reaches whose name is empty or the design's
// name ("Check3", "Command2") rather than words a user understands. A combo
// box's own parts are named by the combo box.
inline QStringList designNamedControls(QWidget* window)
{
    const auto insideComboBox = [](const QWidget* w) {
        for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget()) {
            if (qobject_cast<const QComboBox*>(p)) {
                return true;
            }
        }
        return false;
    };
    QStringList named;
    for (QWidget* w : accessibleWidgets(window)) {
        if (w == window || w->focusPolicy() == Qt::NoFocus || insideComboBox(w)) {
            continue;
        }
        const QString name = QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
        if (name.trimmed().isEmpty() || name == w->objectName()) {
            named << QStringLiteral("%1 (%2) \"%3\"")
                         .arg(w->objectName(), QString::fromLatin1(w->metaObject()->className()),
                              name);
        }
    }
    return named;
}

// The actions a screen reader is offered for a control.
inline QStringList accessibleActions(QWidget* control)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
    QAccessibleActionInterface* actions = iface ? iface->actionInterface() : nullptr;
    return actions ? actions->actionNames() : QStringList();
}

// Does what a screen reader does with one of a control's actions.
inline void doAccessibleAction(QWidget* control, const QString& action)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
    iface->actionInterface()->doAction(action);
}

} // namespace lumora::test
