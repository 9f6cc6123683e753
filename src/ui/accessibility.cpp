#include "ui/accessibility.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QFocusFrame>
#include <QMenu>
#include <QRadioButton>
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

namespace lumora::ui {
namespace {

const char* const kKeptProperty = "lumoraKeptFromUser";
const char* const kFocusProperty = "lumoraFocusPolicy";
const char* const kIndicatorProperty = "lumoraIndicator";

// A container whose children a screen reader sees, without those kept from
// the user.
class ContainerAccessible : public QAccessibleWidget {
public:
    explicit ContainerAccessible(QWidget* widget)
        : QAccessibleWidget(widget, widget->isWindow() ? QAccessible::Window : QAccessible::Client)
    {
    }

    int childCount() const override { return static_cast<int>(shownChildren().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const QList<QWidget*> children = shownChildren();
        return index >= 0 && index < children.size()
                   ? QAccessible::queryAccessibleInterface(children[index])
                   : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!child) {
            return -1;
        }
        const auto* widget = qobject_cast<const QWidget*>(child->object());
        return static_cast<int>(shownChildren().indexOf(const_cast<QWidget*>(widget)));
    }

private:
    QList<QWidget*> shownChildren() const
    {
        QList<QWidget*> shown;
        for (QObject* o : widget()->children()) {
            auto* w = qobject_cast<QWidget*>(o);
            if (!w || w->isWindow() || qobject_cast<QFocusFrame*>(w) || qobject_cast<QMenu*>(w) ||
                keptFromUser(w) || w->objectName() == QLatin1String("qt_rubberband")) {
                continue;
            }
            shown.append(w);
        }
        return shown;
    }
};

// A check box or radio button. Its Toggle clicks it, as the mouse and the
// space bar do, so that whatever a click runs runs for a screen reader too
// (the standard Toggle changes the state without a click). An indicator
// offers nothing to do.
class ToggleAccessible : public QAccessibleWidget {
public:
    ToggleAccessible(QAbstractButton* button, QAccessible::Role role)
        : QAccessibleWidget(button, role)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        if (indicator()) {
            s.readOnly = true;
        }
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        const QString text = QAccessibleWidget::text(t);
        return t == QAccessible::Name && text.isEmpty() ? captionName(button()->text()) : text;
    }

    QStringList actionNames() const override
    {
        if (indicator()) {
            return {};
        }
        return QAccessibleWidget::actionNames() << toggleAction();
    }

    void doAction(const QString& name) override
    {
        if (name == toggleAction()) {
            if (!indicator() && button()->isEnabled()) {
                button()->click();
            }
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
    bool indicator() const { return button()->property(kIndicatorProperty).toBool(); }
};

bool isPlainContainer(const QString& className, const QWidget* widget)
{
    if (className == QLatin1String("QWidget") || className == QLatin1String("QFrame")) {
        return true;
    }
    // The program's own windows and panels.
    return className.startsWith(QLatin1String("lumora::")) &&
           widget->metaObject()->superClass() == &QWidget::staticMetaObject;
}

QAccessibleInterface* accessibleFor(const QString& className, QObject* object)
{
    // Asked for each class from the object's own up; only the object's own
    // class is answered here, so Qt's interfaces stay for everything else.
    if (!object || !object->isWidgetType() ||
        className != QLatin1String(object->metaObject()->className())) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        return new ToggleAccessible(box, QAccessible::CheckBox);
    }
    if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
        return new ToggleAccessible(radio, QAccessible::RadioButton);
    }
    if (isPlainContainer(className, widget)) {
        return new ContainerAccessible(widget);
    }
    return nullptr;
}

} // namespace

void installAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    (void)installed;
}

void keepFromUser(QWidget* control, bool kept)
{
    installAccessibility();
    if (kept == keptFromUser(control)) {
        return;
    }
    if (kept) {
        control->setProperty(kFocusProperty, static_cast<int>(control->focusPolicy()));
        if (control->hasFocus()) {
            control->clearFocus();
        }
        control->setFocusPolicy(Qt::NoFocus);
    } else {
        control->setFocusPolicy(
            static_cast<Qt::FocusPolicy>(control->property(kFocusProperty).toInt()));
    }
    control->setProperty(kKeptProperty, kept);
    if (QWidget* parent = control->parentWidget()) {
        QAccessibleEvent changed(parent, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&changed);
    }
}

bool keptFromUser(const QWidget* control)
{
    return control->property(kKeptProperty).toBool();
}

void makeIndicator(QAbstractButton* box)
{
    installAccessibility();
    box->setProperty(kIndicatorProperty, true);
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
    box->setFocusPolicy(Qt::NoFocus);
}

} // namespace lumora::ui
