"""What the AT-SPI tests share: finding Lumora's windows and controls through
the desktop's accessibility interface, pressing, reading and typing as a
screen reader does, and keys sent through the accessibility registry.
"""
import sys
import time

import pyatspi


def wait(what, test, seconds=30):
    end = time.time() + seconds
    while time.time() < end:
        try:
            value = test()
        except Exception:  # an object that went away while we looked
            value = None
        if value:
            return value
        time.sleep(0.1)
    sys.exit("FAIL: no " + what)


def app():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        child = desktop.getChildAtIndex(i)
        if child is not None and child.name == "lumora":
            return child
    return None


def window(title):
    def find():
        lumora = app()
        for i in range(lumora.childCount if lumora else 0):
            w = lumora.getChildAtIndex(i)
            if w is not None and w.name.startswith(title) and \
                    w.getState().contains(pyatspi.STATE_SHOWING):
                return w
        return None
    return wait("window " + title, find)


def find(node, name, role=None):
    """The first showing object under node with the name (and role)."""
    def walk(n, depth):
        if n is None or depth > 12:
            return None
        if n.name == name and (role is None or n.getRole() == role) and \
                n.getState().contains(pyatspi.STATE_SHOWING):
            return n
        for i in range(n.childCount):
            hit = walk(n.getChildAtIndex(i), depth + 1)
            if hit is not None:
                return hit
        return None
    return wait("'%s' in '%s'" % (name, node.name), lambda: walk(node, 0))


def act(control, wanted=("press", "toggle")):
    action = control.queryAction()
    for i in range(action.nActions):
        if action.getName(i).lower() in wanted:
            action.doAction(i)
            return
    sys.exit("FAIL: '%s' offers no %s" % (control.name, "/".join(wanted)))


def press(node, name):
    act(find(node, name, pyatspi.ROLE_PUSH_BUTTON))


def text_of(control):
    return control.queryText().getText(0, -1)


def set_text(control, value):
    control.queryEditableText().setTextContents(value)


def key(symbol):
    codes = {"Home": 0xff50, "Down": 0xff54, "Return": 0xff0d, "space": 0x20, "Tab": 0xff09}
    pyatspi.Registry.generateKeyboardEvent(codes[symbol], None, pyatspi.KEY_SYM)
    time.sleep(0.2)


def focused(window):
    return pyatspi.findDescendant(window, lambda n: n.getState().contains(pyatspi.STATE_FOCUSED))


def ctrl_tab():
    control_l = 37  # the left Control key's code in Xvfb's keymap
    pyatspi.Registry.generateKeyboardEvent(control_l, None, pyatspi.KEY_PRESS)
    pyatspi.Registry.generateKeyboardEvent(0xff09, None, pyatspi.KEY_SYM)
    pyatspi.Registry.generateKeyboardEvent(control_l, None, pyatspi.KEY_RELEASE)
    time.sleep(0.2)


def focus_by_tab(window, control):
    """Moves the focus on until the control has it: Tab, or Ctrl+Tab in a
    mail body, where Tab would type a tab."""
    for _ in range(40):
        if control.getState().contains(pyatspi.STATE_FOCUSED):
            return
        now = focused(window)
        if now is not None and now.getState().contains(pyatspi.STATE_MULTI_LINE) and \
                now.getState().contains(pyatspi.STATE_EDITABLE):
            ctrl_tab()
        else:
            key("Tab")
    sys.exit("FAIL: Tab never reached '%s'" % control.name)


def answer_yes():
    """Presses はい in the question box that is open now."""
    def button():
        lumora = app()
        for i in range(lumora.childCount):
            w = lumora.getChildAtIndex(i)
            if w is None or w.getRole() not in (pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT):
                continue
            found = pyatspi.findDescendant(
                w, lambda n: n.getRole() == pyatspi.ROLE_PUSH_BUTTON and n.name.startswith("はい"))
            if found is not None:
                return found
        return None
    act(wait("question box", button))


RECORD = 32284


def records(demo):
    """How many mails the demo's received-mail file holds."""
    try:
        with open(demo + "/data/lumora/★MailData/krddata2.data", "rb") as f:
            return len(f.read()) // RECORD
    except OSError:
        return 0
