// The shared keyboard and screen-reader behaviour every window is given.

#include "support/keyboard_walk.h"
#include "ui/accessibility.h"
#include "ui/keyboard.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTextEdit>
#include <QtTest>

using namespace lumora;
using namespace lumora::test;

namespace {

// A small window with a bit of everything.
struct Window {
    QWidget window;
    QWidget* area = new QWidget(&window);
    QLineEdit* field = new QLineEdit(area);
    QLineEdit* work = new QLineEdit(area);
    QTextEdit* body = new QTextEdit(area);
    QPushButton* button = new QPushButton(QStringLiteral("送信"), area);
    QCheckBox* box = new QCheckBox(QStringLiteral("占い"), area);
    QCheckBox* lamp = new QCheckBox(area);
    QRadioButton* radio = new QRadioButton(QStringLiteral("一括送信"), area);

    explicit Window(ui::EscapeKey escape)
    {
        int y = 0;
        for (QWidget* w :
             std::initializer_list<QWidget*>{field, work, body, button, box, lamp, radio}) {
            w->setGeometry(0, y, 200, 24);
            y += 30;
        }
        field->setObjectName(QStringLiteral("field"));
        work->setObjectName(QStringLiteral("work"));
        body->setObjectName(QStringLiteral("body"));
        button->setObjectName(QStringLiteral("button"));
        box->setObjectName(QStringLiteral("box"));
        radio->setObjectName(QStringLiteral("radio"));
        area->setGeometry(0, 0, 220, 240);
        window.resize(220, 240);
        ui::keepFromUser(work);
        ui::makeIndicator(lamp);
        ui::ctrlTabLeaves(body);
        ui::prepareKeyboard(&window, escape);
    }
};

} // namespace

class KeyboardTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keptControlsLeaveTheTabChainAndTheTreeUntilGivenBack();
    void checkBoxesAndRadioButtonsAreClickedByAScreenReader();
    void enterClicksAFocusedButtonAndEscapeClosesOnlyWhereAsked();
    void ctrlTabLeavesABodyWhereTabTypesATab();
};

void KeyboardTest::keptControlsLeaveTheTabChainAndTheTreeUntilGivenBack()
{
    Window w(ui::EscapeKey::Ignored);
    QVERIFY(activate(&w.window));
    QCOMPARE(tabChain(w.field), objectNames({"field", "body", "button", "box", "radio"}));
    QVERIFY(!accessibleWidgets(&w.window).contains(w.work));
    QVERIFY(accessibleWidgets(&w.window).contains(w.field));

    ui::keepFromUser(w.work, false);
    QCOMPARE(tabChain(w.field), objectNames({"field", "work", "body", "button", "box", "radio"}));
    QVERIFY(accessibleWidgets(&w.window).contains(w.work));
    // Its text is kept all along.
    w.work->setText(QStringLiteral("1"));
    ui::keepFromUser(w.work);
    QCOMPARE(w.work->text(), QStringLiteral("1"));
}

void KeyboardTest::checkBoxesAndRadioButtonsAreClickedByAScreenReader()
{
    Window w(ui::EscapeKey::Ignored);
    QSignalSpy boxClicks(w.box, &QCheckBox::clicked);
    QSignalSpy radioClicks(w.radio, &QRadioButton::clicked);
    QVERIFY(accessibleActions(w.box).contains(QAccessibleActionInterface::toggleAction()));
    doAccessibleAction(w.box, QAccessibleActionInterface::toggleAction());
    QCOMPARE(boxClicks.size(), 1);
    QVERIFY(w.box->isChecked());
    QVERIFY(QAccessible::queryAccessibleInterface(w.box)->state().checked);
    QCOMPARE(QAccessible::queryAccessibleInterface(w.box)->text(QAccessible::Name),
             QStringLiteral("占い"));
    doAccessibleAction(w.radio, QAccessibleActionInterface::toggleAction());
    QCOMPARE(radioClicks.size(), 1);
    QCOMPARE(QAccessible::queryAccessibleInterface(w.radio)->role(), QAccessible::RadioButton);

    // An indicator is read, not changed.
    QVERIFY(!accessibleActions(w.lamp).contains(QAccessibleActionInterface::toggleAction()));
    QVERIFY(QAccessible::queryAccessibleInterface(w.lamp)->state().readOnly);
    w.box->setEnabled(false);
    doAccessibleAction(w.box, QAccessibleActionInterface::toggleAction());
    QCOMPARE(boxClicks.size(), 1);
}

void KeyboardTest::enterClicksAFocusedButtonAndEscapeClosesOnlyWhereAsked()
{
    Window w(ui::EscapeKey::Closes);
    QVERIFY(activate(&w.window));
    QSignalSpy clicks(w.button, &QPushButton::clicked);
    w.button->setFocus();
    QTest::keyClick(w.button, Qt::Key_Return);
    QTest::keyClick(w.button, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(clicks.size(), 2);
    // Enter on a check box leaves it as it is.
    QTest::keyClick(w.box, Qt::Key_Return);
    QVERIFY(!w.box->isChecked());
    QTest::keyClick(w.field, Qt::Key_Escape);
    QVERIFY(!w.window.isVisible());

    Window main(ui::EscapeKey::Ignored);
    QVERIFY(activate(&main.window));
    QTest::keyClick(main.field, Qt::Key_Escape);
    QVERIFY(main.window.isVisible());
}

void KeyboardTest::ctrlTabLeavesABodyWhereTabTypesATab()
{
    Window w(ui::EscapeKey::Ignored);
    QVERIFY(activate(&w.window));
    w.body->setFocus();
    QTest::keyClick(w.body, Qt::Key_Tab);
    QCOMPARE(w.body->toPlainText(), QStringLiteral("\t"));
    QTest::keyClick(w.body, Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), w.button);
    QCOMPARE(w.body->toPlainText(), QStringLiteral("\t"));
    w.body->setFocus();
    QTest::keyClick(w.body, Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), w.field);
}

QTEST_MAIN(KeyboardTest)
#include "keyboard_test.moc"
