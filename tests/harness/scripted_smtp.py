#!/usr/bin/env python3
"""A plain SMTP server with habits the real ones in the harness lack.

    scripted_smtp.py ADDRESS PORT LOG [--hang-up-when-idle] [--pipelining]

Listens on ADDRESS:PORT (PORT 0: a free one) and prints the port on its
first line. It offers neither STARTTLS nor SMTPUTF8 (nor PIPELINING unless
asked), takes AUTH PLAIN and LOGIN with any password, and accepts every
mail. Each connection is logged
to LOG as a line "CONNECT", then each command the client sent.

--hang-up-when-idle: a moment after a mail is accepted, the server says
"421" and closes the connection, as a server does whose idle time-out is
short.

--pipelining: PIPELINING is offered (the replies come one per command as
ever; a client may send several commands at once).

Ends by itself within 30 seconds.
"""
import socket
import sys
import time


def serve(conn, log, hang_up, pipelining):
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
                conn.sendall(b"250 queued\r\n")
                if hang_up:
                    time.sleep(0.1)
                    conn.sendall(b"421 4.4.2 scripted: idle too long\r\n")
                    return
            continue
        command = raw.rstrip(b"\r\n")
        log.write(command.decode("utf-8", "replace") + "\n")
        log.flush()
        word = command.split(b" ")[0].upper()
        if word == b"EHLO":
            conn.sendall(b"250-scripted\r\n250-AUTH PLAIN LOGIN\r\n"
                         + (b"250-PIPELINING\r\n" if pipelining else b"") + b"250 8BITMIME\r\n")
        elif word == b"AUTH":
            if command.upper() == b"AUTH LOGIN":
                conn.sendall(b"334 VXNlcm5hbWU6\r\n")
                stream.readline()
                conn.sendall(b"334 UGFzc3dvcmQ6\r\n")
                stream.readline()
            conn.sendall(b"235 ok\r\n")
        elif word == b"DATA":
            in_data = True
            conn.sendall(b"354 go on\r\n")
        elif word == b"QUIT":
            conn.sendall(b"221 bye\r\n")
            return
        else:
            conn.sendall(b"250 ok\r\n")


def main():
    address, port, log_path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    hang_up = "--hang-up-when-idle" in sys.argv[4:]
    pipelining = "--pipelining" in sys.argv[4:]
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
            conn.settimeout(10)
            log.write("CONNECT\n")
            log.flush()
            with conn:
                try:
                    serve(conn, log, hang_up, pipelining)
                except OSError:
                    pass


if __name__ == "__main__":
    main()
