#!/usr/bin/env python3
"""A plain SMTP server with habits the real ones in the harness lack.

    scripted_smtp.py ADDRESS PORT LOG [HABIT...]

Listens on ADDRESS:PORT (PORT 0: a free one) and prints the port on its
first line. It serves each connection as it comes, offers neither STARTTLS
nor SMTPUTF8 (nor PIPELINING unless asked), takes AUTH PLAIN and LOGIN for
the user taro with the password secret, and accepts every mail. Each
connection is logged to LOG as a line "CONNECT", then each command the
client sent (AUTH LOGIN's answers as the user and password they carry).

Habits:
  --hang-up-when-idle  a moment after a mail is accepted, the server says
                       "421" and closes the connection, as a server does
                       whose idle time-out is short
  --pipelining         PIPELINING is offered (the replies come one per
                       command as ever; a client may send several at once)
  --login-only         AUTH LOGIN is the only mechanism offered
  --silent-after-data  the end of a mail's text is never answered
  --endless-ehlo       the reply to EHLO never ends

Ends by itself within 30 seconds.
"""
import base64
import socket
import sys
import threading
import time

USER, PASSWORD = b"taro", b"secret"


lock = threading.Lock()


def note(log, text):
    with lock:
        log.write(text + "\n")
        log.flush()


def serve(conn, log, habits):
    stream = conn.makefile("rb")
    conn.sendall(b"220 scripted ESMTP\r\n")
    in_data = False
    while True:
        raw = stream.readline()
        if not raw:
            return
        if in_data:
            if raw in (b".\r\n", b".\n"):
                in_data = False
                if "--silent-after-data" in habits:
                    time.sleep(20)
                    return
                conn.sendall(b"250 queued\r\n")
                if "--hang-up-when-idle" in habits:
                    time.sleep(0.1)
                    conn.sendall(b"421 4.4.2 scripted: idle too long\r\n")
                    return
            continue
        command = raw.rstrip(b"\r\n")
        note(log, command.decode("utf-8", "replace"))
        word = command.split(b" ")[0].upper()
        if word == b"EHLO":
            if "--endless-ehlo" in habits:
                while True:
                    conn.sendall(b"250-scripted and on and on\r\n" * 64)
            mechanisms = b"LOGIN" if "--login-only" in habits else b"PLAIN LOGIN"
            conn.sendall(b"250-scripted\r\n250-AUTH " + mechanisms + b"\r\n" +
                         (b"250-PIPELINING\r\n" if "--pipelining" in habits else b"") +
                         b"250 8BITMIME\r\n")
        elif word == b"AUTH":
            mechanism = command.split(b" ")[1].upper() if b" " in command else b""
            if mechanism == b"LOGIN":
                conn.sendall(b"334 VXNlcm5hbWU6\r\n")
                user = base64.b64decode(stream.readline().strip())
                conn.sendall(b"334 UGFzc3dvcmQ6\r\n")
                password = base64.b64decode(stream.readline().strip())
                note(log, "LOGIN user=%s password=%s" % (user.decode(), password.decode()))
            elif mechanism == b"PLAIN" and "--login-only" not in habits:
                fields = base64.b64decode(command.split(b" ")[2]).split(b"\0")
                user, password = fields[1], fields[2]
            else:
                conn.sendall(b"504 5.5.4 mechanism not offered\r\n")
                continue
            conn.sendall(b"235 ok\r\n" if (user, password) == (USER, PASSWORD)
                         else b"535 5.7.8 scripted: authentication failed\r\n")
        elif word == b"DATA":
            in_data = True
            conn.sendall(b"354 go on\r\n")
        elif word == b"QUIT":
            conn.sendall(b"221 bye\r\n")
            return
        else:
            conn.sendall(b"250 ok\r\n")


def handle(conn, log, habits):
    conn.settimeout(10)
    note(log, "CONNECT")
    with conn:
        try:
            serve(conn, log, habits)
        except (OSError, ValueError, IndexError):
            pass


def main():
    address, port, log_path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    habits = set(sys.argv[4:])
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        listener.bind((address, port))
    except OSError as e:
        print("cannot listen: %s" % e, flush=True)
        return
    listener.listen(4)
    listener.settimeout(1)
    print(listener.getsockname()[1], flush=True)
    deadline = time.time() + 30
    with open(log_path, "a", encoding="utf-8") as log:
        while time.time() < deadline:
            try:
                conn, _ = listener.accept()
            except socket.timeout:
                continue
            threading.Thread(target=handle, args=(conn, log, habits), daemon=True).start()


if __name__ == "__main__":
    main()
