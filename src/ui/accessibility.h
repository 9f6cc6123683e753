#pragma once

#include <QHash>
#include <QString>

#include <initializer_list>

class QAbstractButton;
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

// Keeps a control that is not for the user (a work field, a marker or a help
// box the design places out of view) out of the Tab chain and out of the
// accessibility tree; it keeps its place and its text. With kept false it is
// given back, reached by Tab again.
void keepFromUser(QWidget* control, bool kept = true);
bool keptFromUser(const QWidget* control);

// A check box that shows a state the user does not change here: it takes no
// click and no focus, and a screen reader is offered no way to toggle it.
void makeIndicator(QAbstractButton* box);

// Lets screen readers use the program's controls as the mouse does: a check
// box or radio button toggled through the accessibility interface is
// clicked, and controls kept from the user are left out. Done once; every
// function here that needs it calls it.
void installAccessibility();

} // namespace lumora::ui
