#pragma once

#include <QString>

#include <initializer_list>

class QAction;
class QLabel;
class QLineEdit;
class QMenuBar;
class QMenu;
class QPushButton;
class QToolBar;
class QWidget;

// Making the controls of a form at their design places (twips), each with
// its design name as object name.
namespace lumora::ui {

// Makes window a form with the name and caption, deleted when closed, and
// gives back its client area, the widget under the menus its controls lie on.
QWidget* makeForm(QWidget* window, const QString& name, const QString& caption);
// Puts the menu bar above the form's client area.
void setFormMenuBar(QWidget* window, QMenuBar* menuBar);

QLineEdit* lineEdit(QWidget* parent, const char* name, int left, int top, int width, int height);
QPushButton* pushButton(QWidget* parent, const char* name, const QString& caption, int left,
                        int top, int width, int height);
QLabel* label(QWidget* parent, const char* name, const QString& caption, int left, int top,
              int width, int height);
QAction* menuItem(QMenu* menu, const char* name, const QString& caption);

// A toolbar button: its key (the action's and the button's object name), its
// tooltip (also its accessible name) and its icon's theme name.
struct ToolKey {
    const char* key;
    const char* tip;
    const char* icon;
};
void addToolKeys(QToolBar* toolbar, std::initializer_list<ToolKey> keys);

} // namespace lumora::ui
