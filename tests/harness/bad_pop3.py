#!/usr/bin/env python3
"""A POP3 server that misbehaves on purpose, for the client's limits.

    bad_pop3.py MODE

Listens on a free loopback port, prints the port on the first line of its
output and serves connections until the client goes away or a bound on what
it sends is reached; it always ends by itself within a minute. MODE:

  long-greeting  a greeting line that never ends
  endless-list   a LIST answer that never ends
  endless-retr   a mail that never ends (more lines than LIST announced)
  long-line      a mail whose first line never ends
  stall          a mail that stops coming after its first line, the
                 connection left open
"""
import socket
import sys
import time

LIMIT = 400 * 1024 * 1024  # bytes sent at most on one connection
DEADLINE = time.time() + 60


def send_forever(conn, make_chunk):
    sent = 0
    n = 0
    while sent < LIMIT and time.time() < DEADLINE:
        chunk = make_chunk(n)
        n += 1
        try:
            conn.sendall(chunk)
        except OSError:
            return
        sent += len(chunk)


def serve(conn, mode):
    reader = conn.makefile("rb")
    if mode == "long-greeting":
        conn.sendall(b"+OK ")
        send_forever(conn, lambda n: b"x" * 65536)
        return
    conn.sendall(b"+OK ready\r\n")
    for raw in reader:
        line = raw.strip().upper()
        if line.startswith(b"USER") or line.startswith(b"PASS"):
            conn.sendall(b"+OK\r\n")
        elif line.startswith(b"CAPA") or line.startswith(b"UIDL") or line.startswith(b"STLS"):
            conn.sendall(b"-ERR no\r\n")
        elif line.startswith(b"LIST"):
            if mode == "endless-list":
                conn.sendall(b"+OK\r\n")
                send_forever(conn, lambda n: b"".join(
                    b"%d 100\r\n" % (n * 1000 + i + 1) for i in range(1000)))
                return
            conn.sendall(b"+OK\r\n1 100\r\n.\r\n")
        elif line.startswith(b"RETR"):
            conn.sendall(b"+OK\r\nSubject: endless\r\n\r\n")
            if mode == "stall":
                while time.time() < DEADLINE and conn.recv(1024):
                    pass
                return
            if mode == "long-line":
                send_forever(conn, lambda n: b"y" * 65536)
            else:
                send_forever(conn, lambda n: b"a line of the mail that does not stop\r\n" * 1000)
            return
        elif line.startswith(b"QUIT"):
            conn.sendall(b"+OK bye\r\n")
            return
        else:
            conn.sendall(b"+OK\r\n")


def main():
    mode = sys.argv[1]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    listener.settimeout(20)
    print(listener.getsockname()[1], flush=True)
    while time.time() < DEADLINE:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            break
        with conn:
            try:
                serve(conn, mode)
            except OSError:
                pass


if __name__ == "__main__":
    main()
