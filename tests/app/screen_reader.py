"""Drives Lumora the way a screen reader user does: through the desktop's
accessibility interface (AT-SPI) and the keyboard, with no mouse event at
all. Receives the demo mailbox, chooses the second mail with the arrow keys,
replies to it and sends the reply, then holds a mail and recalls it.

    screen_reader.py DEMO_FOLDER
"""
import sys

import pyatspi

from atspi_driver import answer_yes, find, focus_by_tab, key, press, records, set_text, \
    text_of, wait, window

demo = sys.argv[1]
spool = demo + "/servers/spool"

main = window("ルモラ Ver")
press(main, "受信")
wait("four received mails", lambda: records(demo) >= 4)
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
