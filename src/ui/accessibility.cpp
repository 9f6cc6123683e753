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

void nameControl(QWidget* control, const QString& name)
{
    control->setAccessibleName(name);
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
    for (auto it = explanations.cbegin(); it != explanations.cend(); ++it) {
        if (it.key() == control) {
            return it.value();
        }
    }
    return {};
}

} // namespace lumora::ui
