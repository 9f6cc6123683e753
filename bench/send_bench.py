#!/usr/bin/python3
"""Times Lumora's mail to every address-book entry against two peers sending
the same mails to the harness SMTP server, in one run, and prints the times
and the ratios:

  lumora-send     the compose window's bulk send, headless: one mail per
                  entry, in record order, over one connection;
  msmtp loop      a shell loop running msmtp once per mail (one process, one
                  connection and one log-in each);
  smtplib         a Python program sending the same mails with smtplib over one
                  connection.

Each is timed as a process, start-up included.

Every tool logs in and sends one Japanese mail (ISO-2022-JP) to each of the
entries; the spool is counted after every run. The same is done again through
bench/delay_proxy.py with a delay added each way.

    send_bench.py LUMORA_SEND [--mails 200] [--delay-ms 10] [--repeat 3]
"""

import argparse
import email.header
import email.mime.text
import email.utils
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVERS = os.path.join(HERE, "..", "tests", "harness", "servers.sh")
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))

from mailkit import DelayProxy, read_env  # noqa: E402

SUBJECT = "【ご案内】年末年始の営業日について"
BODY = ("会員の皆様\n\nいつもお世話になっております。\n"
        "年末年始の営業日を下記の通りご案内いたします。\n\n"
        "　１２月２８日（月）まで　通常営業\n"
        "　１２月２９日（火）から１月３日（日）まで　休業\n"
        "　１月４日（月）から　通常営業\n\n"
        "ご不便をおかけしますが、よろしくお願いいたします。\n" * 3)
FROM = "taro@example.jp"
SMTPLIB_SENDER = """
import smtplib, sys
port, message, recipients = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
data = open(message, "rb").read()
with smtplib.SMTP("127.0.0.1", port) as smtp:
    smtp.login("taro", "secret")
    for r in recipients:
        smtp.sendmail("%s", [r], data)
""" % "taro@example.jp"


def address_book(count):
    records = b""
    for i in range(count):
        name = ("会員%03d" % (i + 1)).encode("cp932").ljust(90, b" ")
        address = ("member%03d@example.jp" % (i + 1)).encode("ascii").ljust(90, b" ")
        records += name + b"\r\n" + b"\x01\x00" + address
    return records


def message_bytes():
    msg = email.mime.text.MIMEText(BODY, "plain", "iso-2022-jp")
    msg["Subject"] = email.header.Header(SUBJECT, "iso-2022-jp")
    msg["From"] = FROM
    msg["To"] = "undisclosed-recipients:;"
    msg["Date"] = email.utils.formatdate(localtime=True)
    return msg.as_bytes().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


class Bench:
    def __init__(self, send, work, count):
        self.send, self.work, self.count = send, work, count
        subprocess.run([SERVERS, "start", work, "--plain"], check=True, stdout=subprocess.DEVNULL)
        self.env = read_env(os.path.join(work, "servers.env"))
        self.spool = self.env["LUMORA_SMTP_SPOOL"]
        self.recipients = ["member%03d@example.jp" % (i + 1) for i in range(count)]
        self.app = os.path.join(work, "app")
        os.makedirs(os.path.join(self.app, "★MailData"))
        with open(os.path.join(self.app, "★MailData", "krddata20.data"), "wb") as f:
            f.write(address_book(count))
        self.body = os.path.join(work, "body.txt")
        with open(self.body, "w", encoding="utf-8") as f:
            f.write(BODY)
        self.message = os.path.join(work, "message.eml")
        with open(self.message, "wb") as f:
            f.write(message_bytes())

    def spooled(self):
        return sum(1 for n in os.listdir(self.spool) if n.endswith(".eml"))

    def lumora(self, port):
        subprocess.run([self.send, self.app, "127.0.0.1:%d" % port, "taro", "secret", FROM,
                        SUBJECT, self.body], check=True, stdout=subprocess.DEVNULL)

    def msmtp(self, port):
        loop = ('for r in "$@"; do msmtp --host=127.0.0.1 --port=%d --auth=plain --tls=off '
                '--user=taro --passwordeval="echo secret" --from=%s "$r" < %s || exit 1; done'
                % (port, FROM, self.message))
        subprocess.run(["bash", "-c", loop, "loop"] + self.recipients, check=True,
                       stdout=subprocess.DEVNULL)

    def smtplib(self, port):
        # A program of its own, as the other two are.
        subprocess.run(["/usr/bin/python3", "-c", SMTPLIB_SENDER, str(port), self.message]
                       + self.recipients, check=True)

    def round(self, title, port, repeat):
        print(title, flush=True)
        times = {}
        for name, run in (("lumora-send", self.lumora), ("msmtp loop", self.msmtp),
                          ("smtplib", self.smtplib)):
            runs = []
            for _ in range(repeat):
                before = self.spooled()
                start = time.monotonic()
                run(port)
                runs.append(time.monotonic() - start)
                for _ in range(100):  # the server writes the last one out
                    if self.spooled() - before >= self.count:
                        break
                    time.sleep(0.02)
                got = self.spooled() - before
                if got != self.count:
                    sys.exit("%s: %d of %d mails arrived" % (name, got, self.count))
            times[name] = sorted(runs)[len(runs) // 2]
            print("  %-12s %7.2f s   (runs: %s)"
                  % (name, times[name], " ".join("%.2f" % r for r in runs)), flush=True)
        ours = times["lumora-send"]
        print("  msmtp loop / lumora-send: %.1f   (target at least 10)"
              % (times["msmtp loop"] / ours))
        print("  lumora-send / smtplib:    %.2f  (target at most 1.5)" % (ours / times["smtplib"]))

    def stop(self):
        subprocess.run([SERVERS, "stop", self.work], stdout=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("send")
    parser.add_argument("--mails", type=int, default=200)
    parser.add_argument("--delay-ms", type=int, default=10)
    parser.add_argument("--repeat", type=int, default=3, help="runs of each tool; the median counts")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="lumora-send-bench-")
    bench = Bench(os.path.abspath(args.send), work, args.mails)
    try:
        port = int(bench.env["LUMORA_SMTP_PORT"])
        bench.round("Loopback, %d mails of %d bytes:" % (args.mails, os.path.getsize(bench.message)),
                    port, args.repeat)
        with DelayProxy(port, args.delay_ms) as proxy_port:
            bench.round("%d ms added each way:" % args.delay_ms, proxy_port, args.repeat)
    finally:
        bench.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
