#pragma once

#include <initializer_list>

class QWidget;

// What the keyboard does in the program's windows beside what Qt gives:
// Enter on a button, Escape on a secondary window, a way out of a mail body
// and the Tab order.
namespace lumora::ui {

enum class EscapeKey { Ignored, Closes };

// Enter or Return on a focused button clicks it, as the space bar and the
// mouse do. With EscapeKey::Closes, Escape closes the window as its close
// or cancel button does. Call once the window's controls are made.
void prepareKeyboard(QWidget* window, EscapeKey escape);

// Ctrl+Tab and Ctrl+Shift+Tab move on from an editor where Tab types a tab.
void ctrlTabLeaves(QWidget* editor);

// Moves the focus to the next (or previous) control in the Tab chain.
void moveFocus(QWidget* from, bool forward);

// Tab goes through the controls in this order.
void setTabChain(std::initializer_list<QWidget*> controls);

} // namespace lumora::ui
