#!/usr/bin/python3
"""Kills the receiving process at many points and checks that afterwards
every mail is either stored exactly once or still on the server, and that a
last, undisturbed receive stores every mail exactly once.

    crash_test.py LUMORA_RECEIVE SERVERS_SH DELAY_PROXY [LUMORA_IMPORT]

With LUMORA_IMPORT, it also kills imports of mails whose records come out
byte for byte the same, and checks that each keeps its own original.
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))

from mailkit import RECORD, deliver, free_port, read_env, stored_records  # noqa: E402

MAILS = 40


def attachment(n):
    return bytes((n * 31 + i) % 251 for i in range(20000 + 3000 * n))


def mail(n):
    import base64
    return (b"From: sender@example.jp\r\nTo: taro@example.jp\r\n"
            b"Subject: crash-%02d\r\nMIME-Version: 1.0\r\n"
            b"Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
            b"--b\r\nContent-Type: text/plain\r\n\r\nmail %d\r\n"
            b"--b\r\nContent-Type: application/octet-stream; name=\"file-%02d.bin\"\r\n"
            b"Content-Transfer-Encoding: base64\r\n\r\n" % (n, n, n) +
            base64.encodebytes(attachment(n)) + b"--b--\r\n")




# Mails whose records come out byte for byte the same (a scanner's mails:
# one subject, one sender, no date, one text) but whose attachments differ.
TWINS = 3
TWIN_SUBJECT = "twin"


def twin(t):
    import base64
    return (b"From: scanner@example.jp\r\nTo: taro@example.jp\r\n"
            b"Subject: twin\r\nMIME-Version: 1.0\r\n"
            b"Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
            b"--b\r\nContent-Type: text/plain\r\n\r\nscanned page\r\n"
            b"--b\r\nContent-Type: application/octet-stream; name=\"scan.bin\"\r\n"
            b"Content-Transfer-Encoding: base64\r\n\r\n" +
            base64.encodebytes(bytes([t + 1]) * (5000 + t)) + b"--b--\r\n")


def retrieved_twin(t):
    return twin(t).replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def label(subject, mail_bytes):
    """A mail's name in the checks: its subject, or which twin it is."""
    if subject != TWIN_SUBJECT:
        return subject
    normal = mail_bytes.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    for t in range(TWINS):
        if normal == retrieved_twin(t):
            return "twin-%d" % t
    raise AssertionError("a twin that was never delivered")


def on_server(env):
    """The mails in the maildir, read again while Dovecot moves files."""
    box = os.path.join(env["LUMORA_MAILDIR"], "taro")
    for _ in range(50):
        subjects = []
        try:
            for sub in ("new", "cur"):
                for name in os.listdir(os.path.join(box, sub)):
                    with open(os.path.join(box, sub, name), "rb") as f:
                        data = f.read()
                    for line in data.split(b"\n"):
                        if line.startswith(b"Subject: "):
                            subjects.append(label(line[9:].strip().decode(), data))
                            break
            return subjects
        except FileNotFoundError:
            time.sleep(0.02)
    raise AssertionError("the maildir never settled")


def retrieved(n):
    """Mail n as POP3 hands it over: every line ended by CR LF."""
    return mail(n).replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


records = stored_records


def map_entries(app):
    """The map of originals: (record key, original's name) for each entry."""
    path = os.path.join(app, "★MailData", "messages", "map")
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        data = f.read()
    entries = []
    for i in range(len(data) // 64):
        key, content = data[i * 64:i * 64 + 32], data[i * 64 + 32:i * 64 + 64]
        entries.append((key, (content if content != bytes(32) else key).hex()))
    return entries


def kept_originals(folder):
    """Every original kept, by name (its key in hex): the packs' kept entries
    whose bytes match their key, and the files of earlier versions."""
    import hashlib
    found = {}
    heads = (b"LUMORIG1", b"LUMDEAD1")
    for name in os.listdir(folder) if os.path.isdir(folder) else []:
        path = os.path.join(folder, name)
        with open(path, "rb") as f:
            data = f.read()
        if len(name) == 64:
            found[name] = data
            continue
        if not name.startswith("pack-"):
            continue
        at = 0
        while at + 48 <= len(data):
            length = int.from_bytes(data[at + 8:at + 16], "little")
            if data[at:at + 8] in heads and at + 48 + length <= len(data):
                key, body = data[at + 16:at + 48], data[at + 48:at + 48 + length]
                if data[at:at + 8] == heads[0] and hashlib.sha256(body).digest() == key:
                    found[key.hex()] = body
                at += 48 + length
                continue
            # Not a whole entry (a kill cut it short): the next head, if any.
            later = [i for i in (data.find(h, at + 1) for h in heads) if i >= 0]
            if not later:
                break
            at = min(later)
    return found


def original_names(app):
    """The original each record has, by the map, in record order."""
    import hashlib
    names = []
    entries = map_entries(app)
    for n, record in enumerate(records(app)):
        assert n < len(entries), "record %d has no entry in the map" % (n + 1)
        key, name = entries[n]
        assert key == hashlib.sha256(record[:RECORD - 4]).digest(), \
            "the map's entry %d is not record %d's" % (n + 1, n + 1)
        names.append(name)
    return names


def check_originals(app):
    """Every record has an original of its own, byte for byte the mail
    delivered, and no original is left without a record."""
    on_disk = kept_originals(os.path.join(app, "★MailData", "messages"))
    names = original_names(app)
    assert set(on_disk) == set(names), "originals %d, records %d" % (len(on_disk), len(names))
    assert len(set(names)) == len(names), "two records share an original"
    for record, name in zip(records(app), names):
        subject = record[:100].decode("cp932").strip()
        original = on_disk[name]
        if subject == TWIN_SUBJECT:
            assert original in [retrieved_twin(t) for t in range(TWINS)], "a twin's original"
        else:
            assert original == retrieved(int(subject[-2:])), "original of %s is not the mail" % subject


def orphaned(app):
    """The contents of originals no record names."""
    named = set(original_names(app))
    kept = kept_originals(os.path.join(app, "★MailData", "messages"))
    return [original for name, original in kept.items() if name not in named]


def take_from_server(env, original):
    """Removes the mail from the maildir; its name in the checks (a twin left
    on the server by the runs before may be the one the kill caught)."""
    box = os.path.join(env["LUMORA_MAILDIR"], "taro")
    for sub in ("new", "cur"):
        for name in os.listdir(os.path.join(box, sub)):
            path = os.path.join(box, sub, name)
            with open(path, "rb") as f:
                data = f.read()
                if data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n") == original:
                    os.remove(path)
                    subject = original.split(b"Subject: ")[1].split(b"\r\n")[0].decode()
                    return label(subject, original)
    raise AssertionError("the orphan's mail is not on the server")


def stored(app):
    originals = kept_originals(os.path.join(app, "★MailData", "messages"))
    kept = []
    for record, name in zip(records(app), original_names(app)):
        subject = record[:100].decode("cp932").strip()
        original = b""
        if subject == TWIN_SUBJECT:
            original = originals[name]
        kept.append(label(subject, original))
    return kept


def check(env, app, everything, final=False):
    kept = stored(app)
    waiting = on_server(env)
    duplicates = {s for s in kept if kept.count(s) > 1}
    assert not duplicates, "stored twice: %s" % sorted(duplicates)
    lost = set(everything) - set(kept) - set(waiting)
    assert not lost, "lost: %s" % sorted(lost)
    if final:
        assert sorted(kept) == sorted(everything), "not every mail stored"
        assert not waiting, "left on the server: %s" % waiting
        folder = os.path.join(app, "添付フォルダ")
        names = os.listdir(folder)
        assert not [n for n in names if n.endswith(".part")], "temporary files left"
        for n in range(MAILS):
            files = [x for x in names if x.startswith("file-%02d" % n)]
            assert files, "attachment of mail %d missing" % n
            for x in files:  # a copy written before a kill is whole, never torn
                with open(os.path.join(folder, x), "rb") as f:
                    assert f.read() == attachment(n), "attachment %s damaged" % x
    return kept, waiting


def import_kills(tool, app):
    """Kills lumora-import at many points of an import of scanner mails that
    come out as byte-identical records, and checks that every record keeps
    its own original, byte for byte, and that a last import completes."""
    import hashlib
    work = os.path.join(os.path.dirname(app), "import")
    os.makedirs(work)
    mails = [twin(t + 10) for t in range(8)] + [mail(n + 100) for n in range(4)]
    mbox = os.path.join(work, "in.mbox")
    with open(mbox, "wb") as f:
        for m in mails:
            f.write(b"From scanner@example.jp Mon Dec  7 10:00:00 2026\n" +
                    m.replace(b"\r\n", b"\n") + b"\n")
    wanted = {m.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n") for m in mails}
    target = os.path.join(work, "app")
    os.makedirs(os.path.join(target, "★MailData"))
    folder = os.path.join(target, "★MailData", "messages")
    rng = random.Random(20261209)
    kills = 0

    def check_import(final):
        names = original_names(target)
        kept = kept_originals(folder)
        contents = [kept[name] for name in names]
        assert len(set(names)) == len(names), "two imported records share an original"
        assert all(c in wanted for c in contents), "an original is not the mail"
        assert len(set(contents)) == len(contents), "a mail imported twice"
        if final:
            assert set(contents) == wanted, "not every mail imported"
            assert set(kept) == set(names), "originals without a record"

    for _ in range(12):
        process = subprocess.Popen([tool, target, mbox], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL,
                                   env=dict(os.environ, LUMORA_IMPORT_PAUSE_MS="25"))
        time.sleep(rng.uniform(0.01, 0.3))
        if process.poll() is None:
            process.kill()
            kills += 1
        process.wait()
        check_import(False)
    subprocess.run([tool, target, mbox], check=True, stdout=subprocess.DEVNULL)
    check_import(True)
    assert kills >= 4, "only %d kills landed inside an import" % kills
    return kills


def main():
    receive, servers, proxy_script = sys.argv[1:4]
    importer = sys.argv[4] if len(sys.argv) > 4 else None
    work = tempfile.mkdtemp(prefix="lumora-crash-")
    proxy = None
    try:
        subprocess.run([servers, "start", work], check=True, stdout=subprocess.DEVNULL)
        env = read_env(os.path.join(work, "servers.env"))
        # A little delay per packet spreads the cycle out, so kills land at
        # every step: fetching, storing, deleting, closing.
        port = free_port()
        proxy = subprocess.Popen(["/usr/bin/python3", proxy_script, str(port),
                                  env["LUMORA_POP3_PORT"], "5"], stdout=subprocess.PIPE)
        assert proxy.stdout.readline().strip() == b"ready"
        everything = ["crash-%02d" % n for n in range(MAILS)]
        for n in range(MAILS):
            deliver(env, "taro", mail(n))
            if n % 15 == 7:
                t = n // 15
                deliver(env, "taro", twin(t))
                everything.append("twin-%d" % t)
        app = os.path.join(work, "app")
        os.makedirs(os.path.join(app, "★MailData"))
        command = [receive, app, "127.0.0.1:%d" % port, "taro", "secret"]
        run_env = dict(os.environ, LUMORA_TEST_CAFILE=env["LUMORA_TEST_CAFILE"])
        rng = random.Random(20261207)
        kills = 0
        between_store_and_delete = 0
        for attempt in range(25):
            # Every other run goes at full speed and is stopped early, at any
            # point (log-in, fetching, writing); the others wait a little
            # before each mail, so that kills also land between storing a
            # mail and the end of the cycle.
            slow = attempt % 2 == 1
            process = subprocess.Popen(
                command, env=dict(run_env, LUMORA_RECEIVE_PAUSE_MS="100" if slow else "0"),
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0.02, 0.8) if slow else rng.uniform(0.005, 0.15))
            if process.poll() is None:
                process.kill()
                kills += 1
            process.wait()
            time.sleep(0.1)  # the server ends the dropped session
            kept, waiting = check(env, app, everything)
            if set(kept) & set(waiting):
                between_store_and_delete += 1
            if not waiting:
                break
        # Kills between keeping a mail's original and storing its record.
        between_original_and_record = 0
        for n in range(MAILS, MAILS + 3):
            deliver(env, "taro", mail(n))
            everything.append("crash-%02d" % n)
        for attempt in range(3):
            process = subprocess.Popen(
                command, env=dict(run_env, LUMORA_RECEIVE_PAUSE_BEFORE_RECORD_MS="2000"),
                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            if process.stdout.readline().strip() == b"original kept":
                process.kill()
                between_original_and_record += 1
            process.wait()
            time.sleep(0.1)
            check(env, app, everything)
        # The last kill's original has no record. Its mail then goes from
        # the server (another program took it): the next cycle removes it.
        orphan = orphaned(app)
        assert len(orphan) == 1, "originals without a record: %d" % len(orphan)
        subject = take_from_server(env, orphan[0])
        everything.remove(subject)
        subprocess.run(command, env=run_env, check=True, stdout=subprocess.DEVNULL)
        check(env, app, everything, final=True)
        check_originals(app)
        assert between_original_and_record == 3, "the pause before a record was not met"
        assert kills >= 5, "only %d kills landed inside a cycle" % kills
        assert between_store_and_delete, "no kill landed between storing and deleting"
        import_killed = import_kills(importer, app) if importer else 0
        print("ok: %d kills inside a cycle (%d between storing and deleting, %d between "
              "an original and its record), %d inside imports; every mail stored once "
              "with its own original"
              % (kills, between_store_and_delete, between_original_and_record, import_killed))
    finally:
        if proxy:
            proxy.kill()
            proxy.wait()
        subprocess.run([servers, "stop", work], stdout=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
