#!/usr/bin/python3
"""Times Lumora's window against the desktop mail clients Debian offers for
the same job, side by side in one run, under the X display given in DISPLAY
(Xvfb), on one Japanese mailbox served by the harness's Dovecot on loopback:

  Claws Mail, Sylpheed   each set up in a throw-away HOME: one POP3 account,
                         plain POP3, mail deleted from the server, an MH inbox;
  Lumora window          the program, on a throw-away application folder;
  lumora-receive         Lumora's headless receive, on the same mailbox.
  server alone           curl retrieving and deleting every mail, storing
                         nothing: what the server takes when each command
                         waits for its reply (a client that pipelines its
                         commands, as Lumora does, can come in below it).

For each window program, per run: start-up until its main window is mapped,
its RSS a second later, the receive of every mail with deletion (Lumora's
受信 clicked; the peers told --receive-all), until every mail is stored and
the server's maildir is empty, and its RSS a second after that. Each run
starts from a fresh HOME or folder and a freshly delivered mailbox. In the
runs before the last, a new Lumora window is then started on the folder the
receive filled, and its RSS read: what showing the mails costs, apart from
the receive's code and memory. In the last run Lumora alone receives ten
smaller mailboxes in one process, its RSS after each. Prints medians and
Lumora's ratios to the fastest peer.

    peers.py LUMORA LUMORA_RECEIVE [--mails 1000] [--repeat 3] [--rss-rounds 10]
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from Xlib import X, display

HERE = os.path.dirname(os.path.abspath(__file__))
SERVERS = os.path.join(HERE, "..", "tests", "harness", "servers.sh")
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))

from mailkit import deliver, read_env  # noqa: E402
from bench import write_curl_delete_config  # noqa: E402

RECORD = 32284
LUMORA_TITLE = "ルモラ Ver 1.0"


def rss_mib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def children_rss(pid):
    """The program's RSS: the process itself (the peers start no helpers
    that hold the mail)."""
    return rss_mib(pid)


class Watcher:
    """Map events of top-level windows, to see a program's main window the
    moment it is mapped."""

    def __init__(self):
        self.display = display.Display()
        self.root = self.display.screen().root
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.pid_atom = self.display.intern_atom("_NET_WM_PID")
        self.display.sync()

    def drain(self):
        while self.display.pending_events():
            self.display.next_event()

    def wait_main_window(self, pid, title=None, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            while self.display.pending_events():
                event = self.display.next_event()
                if event.type != X.MapNotify or event.override:
                    continue
                window = event.window
                try:
                    geometry = window.get_geometry()
                    owner = window.get_full_property(self.pid_atom, X.AnyPropertyType)
                    name = window.get_full_text_property(
                        self.display.intern_atom("_NET_WM_NAME")) or window.get_wm_name() or ""
                except Exception:
                    continue
                if owner is None or owner.value[0] != pid:
                    continue
                if title and title not in str(name):
                    continue
                if geometry.width >= 300 and geometry.height >= 150 or title:
                    return window.id
            time.sleep(0.002)
        raise RuntimeError("no main window of process %d within %d s" % (pid, timeout))


class Bench:
    def __init__(self, lumora, receive, work, mails):
        self.lumora_binary, self.receive, self.work, self.mails = lumora, receive, work, mails
        subprocess.run([SERVERS, "start", os.path.join(work, "servers"), "--plain"], check=True,
                       stdout=subprocess.DEVNULL)
        self.env = read_env(os.path.join(work, "servers", "servers.env"))
        self.port = int(self.env["LUMORA_POP3_PORT"])
        self.box = os.path.join(self.env["LUMORA_MAILDIR"], "taro")
        self.mailbox = os.path.join(work, "mailbox")
        out = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "make_mailbox.py"),
                              self.mailbox, str(mails)], check=True, capture_output=True,
                             text=True).stdout
        print("Mailbox: %s" % out.strip(), flush=True)
        self.watcher = Watcher()
        self.homes = 0

    def stop(self):
        subprocess.run([SERVERS, "stop", os.path.join(self.work, "servers")],
                       stdout=subprocess.DEVNULL)

    # The mailbox on the server.
    def fill(self, count=None):
        for sub in ("new", "cur"):
            for name in os.listdir(os.path.join(self.box, sub)):
                os.unlink(os.path.join(self.box, sub, name))
        for name in sorted(os.listdir(self.mailbox))[:count]:
            with open(os.path.join(self.mailbox, name), "rb") as f:
                deliver(self.env, "taro", f.read())
        # Every program starts with nothing left to write out: one that
        # flushes must not pay for the delivery.
        os.sync()

    def waiting(self):
        return sum(len(os.listdir(os.path.join(self.box, s))) for s in ("new", "cur"))

    def wait_until(self, done, what, timeout=300):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if done():
                return time.monotonic()
            time.sleep(0.01)
        raise RuntimeError("%s did not finish within %d s" % (what, timeout))

    # Each program: set up a fresh home, start, receive.
    def home(self, name):
        # A new one each run; the old ones go at the end, so that no run
        # pays for the deletion of the one before (a file system may avoid
        # reusing what was just deleted).
        self.homes += 1
        home = os.path.join(self.work, "home-%s-%d" % (name, self.homes))
        os.makedirs(home)
        return home

    # Each peer's configuration folder, settings file and its lines, the
    # option naming the folder, and its special folders.
    PEERS = {
        "Sylpheed": (".sylpheed-2.0", "sylpheedrc",
                     "check_update_on_startup=0\nnotify_newmail=0\nlayout_type=0\n",
                     ["sylpheed", "--configdir"],
                     ("outbox sent", "draft draft", "queue queue", "trash trash", "junk junk")),
        "Claws Mail": (".claws-mail", "clawsrc",
                       "show_tips=0\nreceive_dialog=2\nno_recv_err_panel=1\n"
                       "close_recv_dialog=1\n",
                       ["claws-mail", "--alternate-config-dir"],
                       ("outbox sent", "queue queue", "draft draft", "trash trash")),
    }

    def setup_peer(self, name, home):
        """A throw-away configuration: one POP3 account, an MH mailbox."""
        folder, rc, settings, command, specials = self.PEERS[name]
        config = os.path.join(home, folder)
        mail = os.path.join(home, "Mail")
        os.makedirs(config)
        items = ['  <folderitem type="inbox" name="inbox" path="inbox" />\n']
        os.makedirs(os.path.join(mail, "inbox"))
        for special in specials:
            kind, path = special.split()
            os.makedirs(os.path.join(mail, path))
            items.append('  <folderitem type="%s" name="%s" path="%s" />\n' % (kind, path, path))
        with open(os.path.join(config, "folderlist.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\n<folderlist>\n'
                    '<folder type="mh" name="Mailbox" path="%s">\n%s</folder>\n</folderlist>\n'
                    % (mail, "".join(items)))
        with open(os.path.join(config, "accountrc"), "w") as f:
            f.write(self.account_text())
        with open(os.path.join(config, rc), "w") as f:
            f.write("[Common]\nshow_trayicon=0\ncheck_on_startup=0\nautochk_newmail=0\n"
                    "open_inbox_on_inc=0\nconfirm_on_exit=0\n" + settings)
        return os.path.join(mail, "inbox"), command + [config]

    def account_text(self):
        return ("[Account: 1]\naccount_name=taro@example.jp\nis_default=1\nname=Taro\n"
                "address=taro@example.jp\nprotocol=0\nreceive_server=127.0.0.1\n"
                "smtp_server=127.0.0.1\nuser_id=taro\npassword=secret\nremove_mail=1\n"
                "message_leave_time=0\nget_all_mail=0\nenable_size_limit=0\n"
                "filter_on_receive=0\nset_popport=1\npop_port=%d\nssl_pop=0\n"
                "use_apop_auth=0\nrecv_at_getall=1\ninbox=#mh/Mailbox/inbox\n"
                "use_pop_auth=0\nsession_passwords=0\n" % self.port)

    def setup_lumora(self, home):
        app = os.path.join(home, "lumora")
        data = os.path.join(app, "★MailData")
        os.makedirs(data)
        with open(os.path.join(app, "kurodo.ini"), "wb") as f:
            f.write(b"SMTP=127.0.0.1:%d\r\nPOP3=127.0.0.1:%d\r\nMAIL=taro@example.jp\r\nAPOP=0\r\n"
                    % (int(self.env["LUMORA_SMTP_PORT"]), self.port))
        with open(os.path.join(data, "iniIdPass.ini"), "wb") as f:
            f.write(b"[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\nNAME3=1\r\n")
        os.chmod(os.path.join(data, "iniIdPass.ini"), 0o600)
        return app

    def start(self, command, home, cwd=None):
        # Lumora keeps its folder in XDG_DATA_HOME/lumora.
        env = dict(os.environ, HOME=home, LANG="ja_JP.UTF-8", XDG_DATA_HOME=home,
                   XDG_CONFIG_HOME=home + "/.config", XDG_CACHE_HOME=home + "/.cache",
                   NO_AT_BRIDGE="1")
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.watcher.drain()
        started = time.monotonic()
        process = subprocess.Popen(command, env=env, cwd=cwd or home, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        return process, started, env

    def end(self, process):
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()

    def run_peer(self, name):
        home = self.home(name)
        inbox, command = self.setup_peer(name, home)
        self.fill()
        process, started, env = self.start(command, home)
        try:
            self.watcher.wait_main_window(process.pid)
            up = time.monotonic() - started
            time.sleep(1)
            rss_start = children_rss(process.pid)
            begin = time.monotonic()
            subprocess.run(command + ["--receive-all"], env=env, cwd=home,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
            count = lambda: sum(1 for n in os.listdir(inbox) if n.isdigit())
            end = self.wait_until(lambda: count() >= self.mails and self.waiting() == 0,
                                  name + "'s receive")
            time.sleep(1)
            return dict(start=up, rss_start=rss_start, receive=end - begin,
                        rss_after=children_rss(process.pid))
        finally:
            self.end(process)

    def records(self, app):
        path = os.path.join(app, "★MailData", "krddata2.data")
        return os.path.getsize(path) // RECORD if os.path.exists(path) else 0

    def click_receive(self, window):
        subprocess.run(["xdotool", "mousemove", "--window", str(window), "24", "72", "click", "1"],
                       check=True)

    def run_lumora(self, rss_rounds=0):
        home = self.home("lumora")
        app = self.setup_lumora(home)
        self.fill()
        process, started, _ = self.start([self.lumora_binary], home, cwd=app)
        try:
            window = self.watcher.wait_main_window(process.pid, LUMORA_TITLE)
            up = time.monotonic() - started
            time.sleep(1)
            rss_start = rss_mib(process.pid)
            begin = time.monotonic()
            self.click_receive(window)
            end = self.wait_until(lambda: self.records(app) >= self.mails and self.waiting() == 0,
                                  "Lumora's receive")
            time.sleep(1)
            result = dict(start=up, rss_start=rss_start, receive=end - begin,
                          rss_after=rss_mib(process.pid))
            growth = []
            per_round = max(1, self.mails // 10)
            for _ in range(rss_rounds):
                have = self.records(app)
                self.fill(per_round)
                self.click_receive(window)
                self.wait_until(lambda: self.records(app) >= have + per_round and
                                self.waiting() == 0, "Lumora's receive")
                time.sleep(1)
                growth.append(rss_mib(process.pid))
            result["rss_rounds"] = growth
        finally:
            self.end(process)
        if not rss_rounds:  # after the rounds the folder holds more than the mailbox
            result["rss_reopened"] = self.rss_reopened(home, app)
        return result

    def rss_reopened(self, home, app):
        """The RSS of a new window on the mails the receive stored: what the
        window holds for showing them, without the receive's own code and
        memory (decoders, the index, SQLite) in its process."""
        process, _, _ = self.start([self.lumora_binary], home, cwd=app)
        try:
            self.watcher.wait_main_window(process.pid, LUMORA_TITLE)
            time.sleep(1)
            return rss_mib(process.pid)
        finally:
            self.end(process)

    def run_server_alone(self):
        """What the server takes to hand over and delete every mail, with a
        client that does nothing else: curl retrieving each mail into
        /dev/null and deleting it, one connection, until the maildir is
        empty. No program that stores the mails can receive faster."""
        self.fill()
        config = os.path.join(self.work, "server-alone.cfg")
        write_curl_delete_config(config, self.port, self.mails)
        begin = time.monotonic()
        subprocess.run(["curl", "-K", config], check=True, stdout=subprocess.DEVNULL)
        end = self.wait_until(lambda: self.waiting() == 0, "curl's retrieve and delete")
        return dict(receive=end - begin)

    def run_headless(self):
        home = self.home("receive")
        app = self.setup_lumora(home)
        subprocess.run([self.receive, app, "127.0.0.1:%d" % self.port, "taro", "secret"],
                       check=True, stdout=subprocess.DEVNULL)  # the folder, set up
        self.fill()
        start = time.monotonic()
        subprocess.run([self.receive, app, "127.0.0.1:%d" % self.port, "taro", "secret"],
                       check=True, stdout=subprocess.DEVNULL)
        elapsed = time.monotonic() - start
        if self.records(app) != self.mails:
            raise RuntimeError("lumora-receive stored %d of %d" % (self.records(app), self.mails))
        return dict(receive=elapsed)


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("lumora")
    parser.add_argument("receive")
    parser.add_argument("--mails", type=int, default=1000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--rss-rounds", type=int, default=10)
    parser.add_argument("--only", help="comma-separated subset of the programs, for trying out")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="lumora-peers-")
    os.chmod(work, 0o755)  # Dovecot's users reach the maildirs inside
    bench = Bench(os.path.abspath(args.lumora), os.path.abspath(args.receive), work, args.mails)
    programs = ["Claws Mail", "Sylpheed", "Lumora", "lumora-receive", "server alone"]
    if args.only:
        programs = [p for p in programs if p in args.only.split(",")]
    results = {p: [] for p in programs}
    try:
        for run in range(args.repeat):
            # Interleaved, so that whatever else the machine does falls on all alike.
            for name in programs:
                if name == "Lumora":
                    r = bench.run_lumora(args.rss_rounds if run == args.repeat - 1 else 0)
                elif name == "lumora-receive":
                    r = bench.run_headless()
                elif name == "server alone":
                    r = bench.run_server_alone()
                else:
                    r = bench.run_peer(name)
                results[name].append(r)
                print("  run %d %-15s %s" % (run + 1, name, " ".join(
                    "%s=%.2f" % (k, v) for k, v in r.items() if not isinstance(v, list))),
                    flush=True)
    finally:
        bench.stop()
        shutil.rmtree(work, ignore_errors=True)

    print("\nMedians of %d runs, %d mails:" % (args.repeat, args.mails))
    keys = [("start", "start-up to a visible main window", "s"),
            ("rss_start", "RSS after start", "MiB"),
            ("receive", "receive all and delete", "s"),
            ("rss_after", "RSS after receiving", "MiB"),
            ("rss_reopened", "RSS of a new window on those mails", "MiB")]
    med = {p: {k: median([r[k] for r in results[p] if k in r]) for k, _, _ in keys
               if any(k in r for r in results[p])} for p in programs}
    print("  %-36s" % "" + "".join("%16s" % p for p in programs))
    for key, title, unit in keys:
        print("  %-36s" % ("%s (%s)" % (title, unit)) + "".join(
            "%16s" % ("%.2f" % med[p][key] if key in med[p] else "–") for p in programs))
    peers = [p for p in programs if p in ("Claws Mail", "Sylpheed")]
    if "Lumora" in med and peers:
        ours = med["Lumora"]
        fastest = lambda key: min(med[p][key] for p in peers)
        print("\nLumora's window against the fastest peer:")
        print("  start-up:              %.2f x   (target at most 0.6)"
              % (ours["start"] / fastest("start")))
        print("  receive:               %.2f x   (target at most 0.5)"
              % (ours["receive"] / fastest("receive")))
        if "lumora-receive" in med:
            print("  receive / lumora-receive: %.2f x (target at most 1.15)"
                  % (ours["receive"] / med["lumora-receive"]["receive"]))
        print("  RSS after receiving:   %+.1f MiB   (target at most +5)"
              % (ours["rss_after"] - fastest("rss_after")))
        if "rss_reopened" in ours:
            print("  a new window on the stored mails: %+.1f MiB (the receive's own share is the"
                  " difference to RSS after receiving)" % (ours["rss_reopened"] - fastest("rss_after")))
        if "server alone" in med:
            print("  the server alone (curl retrieving and deleting one command at a time, storing"
                  " nothing): %.2f x the fastest peer's receive"
                  % (med["server alone"]["receive"] / fastest("receive")))
    rounds = [r["rss_rounds"] for r in results.get("Lumora", []) if r.get("rss_rounds")]
    if rounds:
        print("  RSS over %d further receives (MiB): %s" % (
            len(rounds[0]), " ".join("%.1f" % v for v in rounds[0])))


if __name__ == "__main__":
    main()
