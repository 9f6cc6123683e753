"""Drives Lumora the way a screen reader user does: through the desktop's
accessibility interface (AT-SPI) and the keyboard, with no mouse event at
all. Receives the demo mailbox, chooses the second mail with the arrow keys,
replies to it and sends the reply, then holds a mail and recalls it.

    screen_reader.py DEMO_FOLDER
"""
import sys
import time

import pyatspi

demo = sys.argv[1]
spool = demo + "/servers/spool"
received = demo + "/data/lumora/★MailData/krddata2.data"
RECORD = 32284


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


def records():
    try:
        with open(received, "rb") as f:
            return len(f.read()) // RECORD
    except OSError:
        return 0


main = window("ルモラ Ver")
press(main, "受信")
wait("four received mails", lambda: records() >= 4)
press(main, "メールを見る")
viewer = window("着信履歴")

# The second mail, chosen with the keyboard alone.
mails = find(viewer, "メール一覧")
focus_by_tab(viewer, mails)
key("Home")
key("Down")
subject = find(viewer, "件名", pyatspi.ROLE_TEXT)
wait("the second mail shown", lambda: text_of(subject) == "今夜の件")

press(viewer, "返事を書く")
reply = window("返事を書く")
to = find(reply, "宛先", pyatspi.ROLE_TEXT)
wait("the sender as recipient", lambda: "hanako.mobile@docomo.example.ne.jp" in text_of(to))
press(reply, "送信")
wait("the reply in the spool", lambda: open(spool + "/0001.eml", "rb").read())
sent = open(spool + "/0001.eml", "rb").read()
if b"hanako.mobile@docomo.example.ne.jp" not in sent:
    sys.exit("FAIL: the reply went elsewhere")

# A mail held back and recalled.
press(main, "新規作成")
compose = window("新規作成")
set_text(find(compose, "宛先", pyatspi.ROLE_TEXT), "jiro@example.jp")
set_text(find(compose, "件名", pyatspi.ROLE_TEXT), "保留した件")
press(compose, "下書き")
press(compose, "保存")
answer_yes()
compose_subject = find(compose, "件名", pyatspi.ROLE_TEXT)
wait("the fields emptied by the hold", lambda: text_of(compose_subject) == "")
press(compose, "呼出")
held = find(compose, "アドレス帳", pyatspi.ROLE_LIST)
focus_by_tab(compose, held)
key("space")
wait("the held mail recalled", lambda: text_of(compose_subject) == "保留した件")
print("ok: received, chose the second mail by keyboard, replied, held and recalled")
