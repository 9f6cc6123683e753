#include "ui/controls.h"

#include "ui/geometry.h"
#include "ui/icons.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolBar>
#include <QVBoxLayout>

namespace lumora::ui {

QWidget* makeForm(QWidget* window, const QString& name, const QString& caption)
{
    window->setObjectName(name);
    window->setWindowTitle(caption);
    window->setAttribute(Qt::WA_DeleteOnClose);
    auto* column = new QVBoxLayout(window);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* client = new QWidget(window);
    client->setObjectName(QStringLiteral("client"));
    client->setAccessibleName(caption);
    column->addWidget(client);
    return client;
}

void setFormMenuBar(QWidget* window, QMenuBar* menuBar)
{
    window->layout()->setMenuBar(menuBar);
}

QLineEdit* lineEdit(QWidget* parent, const char* name, int left, int top, int width, int height)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    placeTwips(box, left, top, width, height);
    return box;
}

QPushButton* pushButton(QWidget* parent, const char* name, const QString& caption, int left,
                        int top, int width, int height)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    placeTwips(button, left, top, width, height);
    return button;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, int left, int top,
              int width, int height)
{
    auto* text = new QLabel(caption, parent);
    text->setObjectName(QString::fromLatin1(name));
    placeTwips(text, left, top, width, height);
    return text;
}

QAction* menuItem(QMenu* menu, const char* name, const QString& caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

void addToolKeys(QToolBar* toolbar, std::initializer_list<ToolKey> keys)
{
    for (const ToolKey& key : keys) {
        const QString tip = QString::fromUtf8(key.tip);
        QAction* action = toolbar->addAction(themeIcon(QString::fromLatin1(key.icon)), tip);
        action->setObjectName(QString::fromLatin1(key.key));
        action->setToolTip(tip);
        if (QWidget* w = toolbar->widgetForAction(action)) {
            w->setObjectName(QString::fromLatin1(key.key));
            w->setAccessibleName(tip);
        }
    }
}

} // namespace lumora::ui
