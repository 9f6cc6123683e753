#include "ui/accessibility.h"

#include <QAbstractButton>
#include <QWidget>

namespace lumora::ui {

QString captionName(const QString& caption)
{
    QString name;
    name.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (i + 1 < caption.size() && caption[i + 1] == u'&') {
                name += u'&';
                ++i;
            }
            continue;
        }
        name += caption[i];
    }
    return name.trimmed();
}

void nameCaptionedControls(QWidget* root)
{
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (button->accessibleName().isEmpty() && !button->text().isEmpty()) {
            button->setAccessibleName(captionName(button->text()));
        }
    }
}

void describeControls(const QHash<QWidget*, QString>& explanations)
{
    for (auto it = explanations.cbegin(); it != explanations.cend(); ++it) {
        it.key()->setAccessibleDescription(it.value());
    }
}

} // namespace lumora::ui

namespace lumora::ui {

QString explanationOf(const QHash<QWidget*, QString>& explanations, const QObject* control)
{
    auto* widget = qobject_cast<QWidget*>(const_cast<QObject*>(control));
    return widget ? explanations.value(widget) : QString();
}

void followMouse(std::initializer_list<QWidget*> controls, QObject* filter)
{
    for (QWidget* control : controls) {
        control->setMouseTracking(true);
        control->installEventFilter(filter);
    }
}

void followMouse(const QHash<QWidget*, QString>& explanations, QObject* filter)
{
    for (auto it = explanations.cbegin(); it != explanations.cend(); ++it) {
        followMouse({it.key()}, filter);
    }
}

} // namespace lumora::ui
