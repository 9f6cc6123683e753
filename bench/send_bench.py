#!/usr/bin/python3
"""Times Lumora's mail to every address-book entry against two peers sending
the same mails to the harness SMTP server, in one run, and prints the times
and the ratios:

  lumora-send     the compose window's bulk send, headless: one mail per
                  entry, in record order, over one connection;
  msmtp loop      a shell loop running msmtp once per mail (one process, one
                  connection and one log-in each);
  smtplib         a Python program sending the same mails with smtplib over one
                  connection;
  pipelining ref  bench/pipelining_client.py: one connection, and each mail's
                  commands in one write with the end of the mail before (RFC
                  2920), for a server that offers PIPELINING;
  baseline        with --baseline, another lumora-send (an earlier build).

Each is timed as a process, start-up included.

Every tool logs in and sends one Japanese mail (ISO-2022-JP) to each of the
entries. Three rounds: the harness's spooling SMTP server on loopback (it
does not pipeline); the harness's private Postfix on loopback (PIPELINING);
and that Postfix through bench/delay_proxy.py with a delay added each way.
Postfix relays what it accepts to the spool, where every run's mails are
counted.

    send_bench.py LUMORA_SEND [--mails 200] [--delay-ms 10] [--repeat 3]
                  [--baseline OTHER_LUMORA_SEND]
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
    def __init__(self, send, baseline, work, count):
        self.send, self.baseline, self.work, self.count = send, baseline, work, count
        subprocess.run([SERVERS, "start", work, "--plain", "--postfix"], check=True,
                       stdout=subprocess.DEVNULL)
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

    def lumora(self, port, program=None):
        subprocess.run([program or self.send, self.app, "127.0.0.1:%d" % port, "taro", "secret",
                        FROM, SUBJECT, self.body], check=True, stdout=subprocess.DEVNULL)

    def earlier(self, port):
        self.lumora(port, self.baseline)

    def pipelining(self, port):
        subprocess.run(["/usr/bin/python3", os.path.join(HERE, "pipelining_client.py"), str(port),
                        "taro", "secret", FROM, self.message] + self.recipients, check=True)

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

    def round(self, title, port, repeat, peers):
        print(title, flush=True)
        tools = [("lumora-send", self.lumora)] + [(name, getattr(self, method))
                                                  for name, method in peers]
        if self.baseline:
            tools.append(("baseline", self.earlier))
        times = {}
        for name, run in tools:
            runs = []
            for _ in range(repeat):
                before = self.spooled()
                start = time.monotonic()
                run(port)
                runs.append(time.monotonic() - start)
                for _ in range(500):  # the server (or Postfix's relay) writes the last ones out
                    if self.spooled() - before >= self.count:
                        break
                    time.sleep(0.02)
                got = self.spooled() - before
                if got != self.count:
                    sys.exit("%s: %d of %d mails arrived" % (name, got, self.count))
            times[name] = sorted(runs)[len(runs) // 2]
            print("  %-15s %7.2f s   (runs: %s)"
                  % (name, times[name], " ".join("%.2f" % r for r in runs)), flush=True)
        ours = times["lumora-send"]
        for name, _ in tools[1:]:
            print("  lumora-send / %-15s %.2f" % (name + ":", ours / times[name]))
        return times

    def stop(self):
        subprocess.run([SERVERS, "stop", self.work], stdout=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("send")
    parser.add_argument("--mails", type=int, default=200)
    parser.add_argument("--delay-ms", type=int, default=10)
    parser.add_argument("--repeat", type=int, default=3, help="runs of each tool; the median counts")
    parser.add_argument("--baseline", help="another lumora-send to time beside it")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="lumora-send-bench-")
    baseline = os.path.abspath(args.baseline) if args.baseline else None
    bench = Bench(os.path.abspath(args.send), baseline, work, args.mails)
    try:
        size = os.path.getsize(bench.message)
        spool_port = int(bench.env["LUMORA_SMTP_PORT"])
        times = bench.round("Spooling server (no PIPELINING), loopback, %d mails of %d bytes:"
                            % (args.mails, size), spool_port, args.repeat,
                            [("msmtp loop", "msmtp"), ("smtplib", "smtplib")])
        print("  msmtp loop / lumora-send: %.1f   (target at least 10)"
              % (times["msmtp loop"] / times["lumora-send"]))
        postfix_port = int(bench.env["LUMORA_POSTFIX_PORT"])
        peers = [("pipelining ref", "pipelining"), ("smtplib", "smtplib")]
        bench.round("Postfix (PIPELINING), loopback:", postfix_port, args.repeat, peers)
        with DelayProxy(postfix_port, args.delay_ms) as proxy_port:
            times = bench.round("Postfix, %d ms added each way:" % args.delay_ms, proxy_port,
                                args.repeat, peers)
        print("  target: lumora-send / pipelining ref at most 1.1 with the delay: %.2f"
              % (times["lumora-send"] / times["pipelining ref"]))
    finally:
        bench.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
