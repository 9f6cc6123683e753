#pragma once

#include "ui/accessibility.h"

#include <QAbstractScrollArea>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QStringList>
#include <QWidget>

#include <initializer_list>
#include <utility>

namespace lumora::test {

// The controls of a window without an accessible name. Qt's own parts of a
// control (scroll bars, viewports, header, a combo box's pop-up, a toolbar's
// extension button), labels, which a screen reader reads by their text, and
// controls kept from the user do not count.
inline QStringList unnamedControls(QWidget* window)
{
    QStringList unnamed;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        QWidget* parent = w->parentWidget();
        if (w->objectName().startsWith(QStringLiteral("qt_")) || ui::keptFromUser(w) ||
            qobject_cast<QScrollBar*>(w) || qobject_cast<QHeaderView*>(w) ||
            qobject_cast<QMenu*>(w) || qobject_cast<QAbstractScrollArea*>(parent) ||
            qobject_cast<QAbstractScrollArea*>(parent ? parent->parentWidget() : nullptr) ||
            (!qobject_cast<QComboBox*>(w) && parent &&
             (qobject_cast<QComboBox*>(parent) || parent->inherits("QComboBoxPrivateContainer")))) {
            continue;
        }
        const auto* label = qobject_cast<QLabel*>(w);
        if (label && !label->text().isEmpty()) {
            continue;
        }
        if (w->accessibleName().trimmed().isEmpty()) {
            unnamed << QStringLiteral("%1 (%2)").arg(
                w->objectName(), QString::fromLatin1(w->metaObject()->className()));
        }
    }
    return unnamed;
}

// What is wrong with a window's names: each control whose name is not the
// one expected, then each control without a name.
inline QStringList nameProblems(QWidget* window,
                                std::initializer_list<std::pair<QWidget*, const char*>> expected)
{
    QStringList problems;
    for (const auto& [control, name] : expected) {
        if (control->accessibleName() != QString::fromUtf8(name)) {
            problems << QStringLiteral("%1 is named \"%2\", not \"%3\"")
                            .arg(control->objectName(), control->accessibleName(),
                                 QString::fromUtf8(name));
        }
    }
    return problems + unnamedControls(window);
}

} // namespace lumora::test
