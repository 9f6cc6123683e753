#pragma once

#include <QHash>
#include <QString>

#include <initializer_list>

class QObject;

class QWidget;

// Names and descriptions for screen readers (and for tests that find
// controls through the desktop's accessibility interface). A control's name
// is its caption without surrounding spaces, or its role in Japanese when it
// has no caption; its description is its explanation text.
namespace lumora::ui {

// The caption as a name: surrounding spaces (ideographic ones too) and the
// "&" of a keyboard shortcut removed.
QString captionName(const QString& caption);

// Gives every button and check box under root that has a caption and no
// name yet its caption as name.
void nameCaptionedControls(QWidget* root);
// Each control's explanation becomes its description.
void describeControls(const QHash<QWidget*, QString>& explanations);
// The explanation of the control (an object events arrive at), or an empty text.
QString explanationOf(const QHash<QWidget*, QString>& explanations, const QObject* control);
// Lets the filter see the mouse moving over each of the controls.
void followMouse(std::initializer_list<QWidget*> controls, QObject* filter);
void followMouse(const QHash<QWidget*, QString>& explanations, QObject* filter);

} // namespace lumora::ui
