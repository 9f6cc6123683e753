"""Lumora's desktop notice against a real notification server (dunst) on a
private session bus: with another window active, 受信 is pressed through the
accessibility interface; the notice says how many mails came and names the
newest; activating it in the server opens the viewer on that mail.

    desktop_notice.py DEMO_FOLDER NOTIFY_LOG
"""
import subprocess
import sys

import pyatspi

from atspi_driver import find, press, records, text_of, wait, window

demo, log = sys.argv[1], sys.argv[2]


def displayed():
    out = subprocess.run(["dunstctl", "count", "displayed"], capture_output=True, text=True)
    return out.stdout.strip() not in ("", "0")


main = window("ルモラ Ver")
if main.getState().contains(pyatspi.STATE_ACTIVE):
    sys.exit("FAIL: Lumora's window is active; the test needs another one in front")
press(main, "受信")
wait("four received mails", lambda: records(demo) >= 4)
wait("the notice on the desktop", displayed)
calls = open(log, encoding="utf-8", errors="replace").read()
for expected in ('string "新着メール 4 通"', "田中 次郎", "定例会議の議事録（長文）"):
    if expected not in calls:
        sys.exit("FAIL: the notice lacks " + expected + "\n" + calls)

# The user activates the notice in the desktop's notification server.
subprocess.run(["dunstctl", "action", "0"], check=True)
viewer = window("着信履歴")
subject = find(viewer, "件名", pyatspi.ROLE_TEXT)
wait("the newest mail shown", lambda: text_of(subject) == "定例会議の議事録（長文）")
print("ok: the notice named the newest of 4 mails and opened the viewer on it")
