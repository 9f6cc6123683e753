"""What the Python side of the tests and the benchmark share: the servers'
environment file, free ports, delivery into a maildir and ISO-2022-JP as
Windows writes it."""

import itertools
import os
import socket
import subprocess
import time

_delivered = itertools.count()


def read_env(path):
    """The KEY=value lines servers.sh writes to servers.env."""
    env = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            env[key] = value
    return env


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def deliver(env, user, data):
    """Puts a message into the user's maildir the way an MTA does: written
    under tmp/, owned by the mail user, renamed into new/. Every name is new:
    Dovecot muddles a mailbox when a name it has seen deleted comes back."""
    maildir = os.path.join(env["LUMORA_MAILDIR"], user)
    name = "%d.%d.%d.lumora" % (time.time_ns(), os.getpid(), next(_delivered))
    tmp = os.path.join(maildir, "tmp", name)
    with open(tmp, "wb") as f:
        f.write(data)
    if os.getuid() == 0:
        os.chown(tmp, int(env["LUMORA_MAIL_UID"]), int(env["LUMORA_MAIL_GID"]))
    os.rename(tmp, os.path.join(maildir, "new", name))


def write_mboxrd(folder, out_path):
    """The mail files of a folder, in name order, as one mbox in the mboxrd
    form (a body line ">*From " gets one more ">"), with LF line ends."""
    with open(out_path, "wb") as out:
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), "rb") as f:
                data = f.read().replace(b"\r\n", b"\n")
            out.write(b"From MAILER-DAEMON Thu Jan  1 00:00:00 2026\n")
            for line in data.rstrip(b"\n").split(b"\n"):
                quoted = line.lstrip(b">").startswith(b"From ")
                out.write((b">" if quoted else b"") + line + b"\n")
            out.write(b"\n")


RECORD = 32284  # bytes of a stored mail's record


def stored_records(app):
    """The whole records of an application folder's received-mail file."""
    path = os.path.join(app, "★MailData", "krddata2.data")
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        data = f.read()
    return [data[i * RECORD:(i + 1) * RECORD] for i in range(len(data) // RECORD)]


def jis(text):
    """ISO-2022-JP the way Windows writes it: CP932 double-byte codes turned
    into JIS rows (so ① and the NEC-selected IBM characters come through),
    half-width kana with ESC ( I."""
    out = b""
    mode = "ascii"
    for ch in text:
        b = ch.encode("cp932")
        if len(b) == 1 and b[0] < 0x80:
            if mode != "ascii":
                out += b"\x1b(B"
                mode = "ascii"
            out += b
        elif len(b) == 1:
            if mode != "kana":
                out += b"\x1b(I"
                mode = "kana"
            out += bytes([b[0] - 0x80])
        else:
            s1, s2 = b
            if s1 >= 0xFA:  # IBM extension -> NEC-selected IBM extension
                for lead in (0xED, 0xEE):
                    for trail in range(0x40, 0xFD):
                        try:
                            if bytes([lead, trail]).decode("cp932") == ch:
                                s1, s2 = lead, trail
                        except UnicodeDecodeError:
                            pass
            j1 = (s1 - (0x70 if s1 <= 0x9F else 0xB0)) * 2
            if s2 >= 0x9F:
                j2 = s2 - 0x7E
            else:
                j1 -= 1
                j2 = s2 - (0x20 if s2 >= 0x80 else 0x1F)
            if mode != "kanji":
                out += b"\x1b$B"
                mode = "kanji"
            out += bytes([j1, j2])
    if mode != "ascii":
        out += b"\x1b(B"
    return out


class DelayProxy:
    """bench/delay_proxy.py in front of a loopback port, as a context:
    the proxy's port while it runs, stopped on leaving."""

    def __init__(self, target, delay_ms):
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench",
                              "delay_proxy.py")
        self.port = free_port()
        self.process = subprocess.Popen(["/usr/bin/python3", script, str(self.port), str(target),
                                         str(delay_ms)], stdout=subprocess.PIPE)
        assert self.process.stdout.readline().strip() == b"ready"

    def __enter__(self):
        return self.port

    def __exit__(self, *_):
        self.process.kill()
        self.process.wait()
