#!/usr/bin/python3
"""Times Lumora's headless receive against fetchmail and getmail6 on the same
mailbox, served by Dovecot on loopback, in one run, and prints the times and
the ratios. Every tool fetches and deletes every mail; each run starts from
the same freshly delivered mailbox. The floor is curl retrieving every mail
over one connection into /dev/null, storing and deleting nothing; on
loopback, "curl + DELE" also deletes each mail, the server's whole share of a
receive, and "lumora-receive, kept" receives with the mail kept on the
server, the same work as the floor's. Then times the import of the same mails from an mbox file against
that receive.

    bench.py LUMORA_RECEIVE [--mails 1000] [--delayed-mails 200] [--delay-ms 10]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVERS = os.path.join(HERE, "..", "tests", "harness", "servers.sh")
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))

from mailkit import DelayProxy, deliver, read_env, write_mboxrd  # noqa: E402
RECORD = 32284


def write_curl_delete_config(path, port, count):
    """A curl configuration that retrieves each of count mails into /dev/null
    and deletes it, one command at a time, over one connection."""
    entry = 'url = "pop3://127.0.0.1:%d/%d"\noutput = "/dev/null"\nuser = "taro:secret"\nsilent\n'
    with open(path, "w") as f:
        f.write("next\n".join(entry % (port, n) + "next\n" + entry % (port, n) +
                               'request = "DELE"\nhead\n' for n in range(1, count + 1)))


class Bench:
    def __init__(self, receive, work):
        self.receive = receive
        self.work = work
        subprocess.run([SERVERS, "start", work, "--plain"], check=True, stdout=subprocess.DEVNULL)
        self.env = read_env(os.path.join(work, "servers.env"))
        self.box = os.path.join(self.env["LUMORA_MAILDIR"], "taro")

    def make_mailbox(self, count):
        folder = os.path.join(self.work, "mailbox-%d" % count)
        out = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "make_mailbox.py"), folder,
                              str(count)], check=True, capture_output=True, text=True).stdout
        return folder, out.strip()

    def fill(self, mailbox):
        for sub in ("new", "cur"):
            for name in os.listdir(os.path.join(self.box, sub)):
                os.unlink(os.path.join(self.box, sub, name))
        for name in sorted(os.listdir(mailbox)) if mailbox else []:
            with open(os.path.join(mailbox, name), "rb") as f:
                deliver(self.env, "taro", f.read())

    def waiting(self):
        """Mails left in the maildir, once the server has finished the
        deletions that follow QUIT."""
        for _ in range(100):
            left = sum(len(os.listdir(os.path.join(self.box, s))) for s in ("new", "cur"))
            if not left:
                return 0
            time.sleep(0.05)
        return left

    def timed(self, command, env=None):
        with tempfile.TemporaryFile(dir=self.work) as errors:
            start = time.monotonic()
            process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                       stderr=errors)
            _, status, usage = os.wait4(process.pid, 0)
            elapsed = time.monotonic() - start
            errors.seek(0)
            text = errors.read().decode(errors="replace")[-2000:]
        return elapsed, usage.ru_maxrss / 1024, os.waitstatus_to_exitcode(status), text

    def prepare_lumora(self, port):
        """An installed program: the application folder is set up once,
        by a receive from the empty mailbox, before the timed run."""
        self.app = tempfile.mkdtemp(dir=self.work, prefix="app-")
        os.makedirs(os.path.join(self.app, "★MailData"))
        subprocess.run([self.receive, self.app, "127.0.0.1:%d" % port, "taro", "secret"],
                       check=True, stdout=subprocess.DEVNULL)

    def lumora(self, port, count):
        app = self.app
        result = self.timed([self.receive, app, "127.0.0.1:%d" % port, "taro", "secret"])
        records = os.path.getsize(os.path.join(app, "★MailData", "krddata2.data")) // RECORD
        assert records == count, "lumora stored %d of %d mails" % (records, count)
        return result

    def lumora_kept(self, port, count):
        """lumora-receive with the mail kept on the server: like the floor,
        no deletion for the server to carry out."""
        app = self.app
        result = self.timed([self.receive, app, "127.0.0.1:%d" % port, "taro", "secret", "--keep"])
        records = os.path.getsize(os.path.join(app, "★MailData", "krddata2.data")) // RECORD
        assert records == count, "lumora stored %d of %d mails" % (records, count)
        return result

    def curl_floor(self, port, count):
        """Retrieval alone, with no storing and no deletion: curl fetching
        every mail over one connection into /dev/null."""
        config = os.path.join(self.work, "curl.cfg")
        with open(config, "w") as f:
            for number in range(1, count + 1):
                f.write('url = "pop3://127.0.0.1:%d/%d"\noutput = "/dev/null"\n' % (port, number))
        return self.timed(["curl", "-s", "-u", "taro:secret", "-K", config])

    def curl_delete(self, port, count):
        """The server's share of a receive: curl retrieving every mail into
        /dev/null and deleting it, one command at a time over one
        connection, storing nothing. Its QUIT waits for the deletions."""
        config = os.path.join(self.work, "curl-delete.cfg")
        write_curl_delete_config(config, port, count)
        return self.timed(["curl", "-s", "-K", config])

    def fetchmail(self, port, count):
        home = tempfile.mkdtemp(dir=self.work, prefix="fetchmail-")
        rc = os.path.join(home, "fetchmailrc")
        with open(rc, "w") as f:
            f.write('set no syslog\npoll 127.0.0.1 service %d protocol pop3 '
                    'user "taro" password "secret" fetchall nokeep no sslcertck\n' % port)
        os.chmod(rc, 0o600)
        env = dict(os.environ, FETCHMAILHOME=home, HOME=home)
        return self.timed(["fetchmail", "-f", rc, "--bsmtp", os.path.join(home, "out.bsmtp"),
                           "--pidfile", os.path.join(home, "pid"), "--nosyslog"], env)

    def getmail(self, port, count):
        home = tempfile.mkdtemp(dir=self.work, prefix="getmail-")
        maildir = os.path.join(home, "Maildir")
        for sub in ("cur", "new", "tmp"):
            os.makedirs(os.path.join(maildir, sub))
        # getmail will not deliver as root: as root it delivers as nobody.
        user = ""
        if os.getuid() == 0:
            user = "user = nobody\n"
            for path in (self.work, home):
                os.chmod(path, 0o755)
            for sub in ("", "cur", "new", "tmp"):
                os.chown(os.path.join(maildir, sub), 65534, 65534)
        rc = os.path.join(home, "getmailrc")
        with open(rc, "w") as f:
            f.write("[retriever]\ntype = SimplePOP3Retriever\nserver = 127.0.0.1\nport = %d\n"
                    "username = taro\npassword = secret\n\n[destination]\ntype = Maildir\n"
                    "path = %s/\n%s\n[options]\ndelete = true\nread_all = true\nverbose = 0\n"
                    % (port, maildir, user))
        result = self.timed(["getmail", "--rcfile", rc, "--getmaildir", home])
        got = len(os.listdir(os.path.join(maildir, "new")))
        assert got == count, "getmail delivered %d of %d mails: %s" % (got, count, result[3])
        return result

    def round(self, title, mailbox, count, port, repeat, with_deletion=False):
        print(title, flush=True)
        times = {}
        tools = [("lumora-receive", self.lumora), ("curl floor", self.curl_floor),
                 ("fetchmail", self.fetchmail), ("getmail6", self.getmail)]
        if with_deletion:
            tools.insert(1, ("lumora-receive, kept", self.lumora_kept))
            tools.insert(3, ("curl + DELE", self.curl_delete))
        for name, run in tools:
            runs = []
            peaks = []
            for _ in range(repeat):
                self.fill(None)
                if name.startswith("lumora-receive"):
                    self.prepare_lumora(port)
                self.fill(mailbox)
                os.sync()  # every tool starts with nothing left to write out
                elapsed, peak, code, errors = run(port, count)
                left = self.waiting() if name not in ("curl floor", "lumora-receive, kept") else 0
                if code != 0 or left:
                    sys.exit("%s failed (exit %d, %d mails left): %s" % (name, code, left, errors))
                runs.append(elapsed)
                peaks.append(peak)
            # The median of the runs: this kind of machine varies a lot from
            # one run to the next.
            times[name] = sorted(runs)[len(runs) // 2]
            print("  %-20s %7.2f s   peak memory %6.1f MB   (runs: %s)"
                  % (name, times[name], max(peaks), " ".join("%.2f" % r for r in runs)),
                  flush=True)
        ours = times["lumora-receive"]
        print("  ratio lumora-receive / fetchmail: %.2f" % (ours / times["fetchmail"]))
        print("  ratio lumora-receive / getmail6:  %.2f" % (ours / times["getmail6"]))
        print("  ratio lumora-receive / curl floor: %.2f  (target at most 1.5)"
              % (ours / times["curl floor"]))
        if "lumora-receive, kept" in times:
            print("  ratio lumora-receive, kept / curl floor: %.2f  (neither deletes)"
                  % (times["lumora-receive, kept"] / times["curl floor"]))
        if "curl + DELE" in times:
            print("  ratio lumora-receive / curl + DELE: %.2f  (the server's deletions included)"
                  % (ours / times["curl + DELE"]))
        return times

    def import_round(self, mailbox, count, repeat, receive_time):
        """The same mails from an mbox file into a fresh application folder."""
        importer = os.path.join(os.path.dirname(self.receive), "lumora-import")
        mbox = os.path.join(self.work, "mailbox.mbox")
        write_mboxrd(mailbox, mbox)
        runs = []
        for _ in range(repeat):
            app = tempfile.mkdtemp(dir=self.work, prefix="import-")
            os.makedirs(os.path.join(app, "★MailData"))
            empty = os.path.join(self.work, "empty.mbox")
            open(empty, "wb").close()
            subprocess.run([importer, app, empty], check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)  # "no mail found": the folder is set up
            os.sync()
            elapsed, peak, code, errors = self.timed([importer, app, mbox])
            if code != 0:
                sys.exit("lumora-import failed (exit %d): %s" % (code, errors))
            records = os.path.getsize(os.path.join(app, "★MailData", "krddata2.data")) // RECORD
            assert records == count, "lumora-import stored %d of %d mails" % (records, count)
            runs.append(elapsed)
        median = sorted(runs)[len(runs) // 2]
        print("  %-20s %7.2f s   peak memory %6.1f MB   (runs: %s)"
              % ("lumora-import", median, peak, " ".join("%.2f" % r for r in runs)), flush=True)
        print("  ratio lumora-import / lumora-receive: %.2f" % (median / receive_time))

    def stop(self):
        subprocess.run([SERVERS, "stop", self.work], stdout=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("receive")
    parser.add_argument("--mails", type=int, default=1000)
    parser.add_argument("--delayed-mails", type=int, default=200)
    parser.add_argument("--delay-ms", type=int, default=10)
    parser.add_argument("--repeat", type=int, default=3, help="runs of each tool; the median counts")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="lumora-bench-")
    bench = Bench(os.path.abspath(args.receive), work)
    try:
        mailbox, about = bench.make_mailbox(args.mails)
        port = int(bench.env["LUMORA_POP3_PORT"])
        times = bench.round("Loopback, %s:" % about, mailbox, args.mails, port, args.repeat,
                            with_deletion=True)
        bench.import_round(mailbox, args.mails, args.repeat, times["lumora-receive"])

        if args.delayed_mails > 0:  # 0: the loopback round alone
            small, about = bench.make_mailbox(args.delayed_mails)
            with DelayProxy(port, args.delay_ms) as proxy_port:
                bench.round("%d ms added each way, %s:" % (args.delay_ms, about), small,
                            args.delayed_mails, proxy_port, args.repeat)
    finally:
        bench.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
