#!/usr/bin/python3
"""Receives the hostile mails of hostile_mail.py (at a small scale) and one
ordinary mail after them from the harness's Dovecot with lumora-receive, and
checks that every mail is stored, in order, that the mail after them is not
held up, that no mail wrote more than the attachment limit, and that the
stored bodies say what was left out.

    hostile_test.py LUMORA_RECEIVE SERVERS_SH
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))

from mailkit import deliver, read_env  # noqa: E402

RECORD = 32284
SCALE = "0.05"
MAX_ATTACHMENTS = 1000


def records(path):
    with open(path, "rb") as f:
        data = f.read()
    for at in range(0, len(data) - RECORD + 1, RECORD):
        r = data[at:at + RECORD]
        yield (r[0:100].decode("cp932", "replace").strip(),
               r[280:32280].decode("cp932", "replace").rstrip())


def main():
    receive, servers = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="lumora-hostile-")
    os.chmod(work, 0o755)  # the mail user of Dovecot looks inside
    try:
        subprocess.run([servers, "start", work + "/servers", "--plain"], check=True,
                       stdout=subprocess.DEVNULL)
        env = read_env(work + "/servers/servers.env")
        folder = work + "/mails"
        subprocess.run(["/usr/bin/python3", os.path.join(HERE, "hostile_mail.py"), folder,
                        "--scale", SCALE], check=True)
        names = sorted(os.listdir(folder))
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                deliver(env, "taro", f.read())
            time.sleep(0.002)  # keeps the delivery order the server's order
        deliver(env, "taro", b"From: friend@example.jp\r\nSubject: after\r\n\r\nstill here\r\n")

        app = work + "/app"
        os.makedirs(app + "/★MailData")
        start = time.monotonic()
        result = subprocess.run([receive, app, "127.0.0.1:" + env["LUMORA_POP3_PORT"], "taro",
                                 "secret"], capture_output=True, text=True, timeout=240)
        elapsed = time.monotonic() - start
        if result.returncode != 0:
            sys.exit("lumora-receive failed: " + result.stderr[-2000:])
        stored = list(records(app + "/★MailData/krddata2.data"))
        if len(stored) != len(names) + 1:
            sys.exit("%d mails stored, %d sent" % (len(stored), len(names) + 1))
        if stored[-1][0] != "after" or "still here" not in stored[-1][1]:
            sys.exit("the mail after the hostile ones: %r" % (stored[-1],))
        bodies = {subject: body for subject, body in stored}
        expected = {
            "parts": "部分が多すぎるため",
            "lines": "ヘッダーが大きすぎるため",
        }
        for subject, note in expected.items():
            if note not in bodies.get(subject, ""):
                sys.exit("the body of %r does not say what was left out: %r"
                         % (subject, bodies.get(subject, "")[-300:]))
        files = os.listdir(app + "/添付フォルダ")
        # many_parts, same_names, long_parameter, deep_nesting write files;
        # none may write more than the limit.
        if len(files) > 3 * MAX_ATTACHMENTS:
            sys.exit("%d attachment files written" % len(files))
        print("%d mails stored in %.1f s, %d attachment files" % (len(stored), elapsed,
                                                                  len(files)))
    finally:
        subprocess.run([servers, "stop", work + "/servers"], stdout=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
