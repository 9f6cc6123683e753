#!/usr/bin/env python3
"""A server that tampers with the start of TLS, as someone on the path could.

    starttls_injector.py pop3|smtp|pop3-strip CERT KEY LOG

Listens on a free loopback port and prints the port on its first line.

pop3, smtp: when the client asks to start TLS, the server answers yes and,
in the same write, a whole forged dialogue (a POP3 log-in, LIST and a forged
mail; SMTP replies to MAIL, RCPT and DATA). Then it does the handshake and,
inside TLS, serves an honest dialogue with one real mail.

pop3-strip: the first connection is honest (STLS offered and used); every
later one leaves STLS out of CAPA, as an attacker who strips it would, and
serves a plain dialogue.

Every command the client sends inside TLS, or in plain text after CAPA, is
appended to LOG, so a test can tell what the client sent. Ends by itself
within 30 seconds.
"""
import socket
import ssl
import sys
import time

FORGED_POP3 = (b"+OK forged log-in\r\n+OK\r\n+OK\r\n"
               b"+OK 1 messages\r\n1 60\r\n.\r\n"
               b"+OK\r\n1 forged-uid\r\n.\r\n"
               b"+OK\r\nSubject: forged\r\n\r\nThis mail was never on the server.\r\n.\r\n"
               b"+OK\r\n+OK bye\r\n")
REAL_MAIL = b"Subject: real\r\n\r\nThe real mail.\r\n"
FORGED_SMTP = (b"250-forged\r\n250 AUTH PLAIN\r\n235 ok\r\n250 ok\r\n250 ok\r\n"
               b"354 go on\r\n250 queued\r\n221 bye\r\n")


def lines(stream):
    while True:
        line = stream.readline()
        if not line:
            return
        yield line


def until_tls(conn, stream, greeting_reply, request, yes, refusal):
    """The plain part of a session: the capabilities command (greeting_reply
    is its name and answer) is answered, anything else refused, until the
    client sends request; then yes goes out in one write. False when the
    client went away first."""
    name, reply = greeting_reply
    for raw in lines(stream):
        command = raw.strip().upper()
        if command == request:
            conn.sendall(yes)
            return True
        conn.sendall(reply if command.startswith(name) else refusal)
    return False


def serve_pop3_dialogue(sock, stream, log):
    for raw in lines(stream):
        command = raw.strip().upper()
        log.write(command.decode("ascii", "replace") + "\n")
        log.flush()
        if command == b"CAPA":
            sock.sendall(b"+OK\r\nUSER\r\nUIDL\r\n.\r\n")
        elif command.startswith(b"LIST"):
            sock.sendall(b"+OK\r\n1 %d\r\n.\r\n" % len(REAL_MAIL))
        elif command.startswith(b"UIDL"):
            sock.sendall(b"+OK\r\n1 real-uid\r\n.\r\n")
        elif command.startswith(b"RETR"):
            sock.sendall(b"+OK\r\n" + REAL_MAIL + b".\r\n")
        elif command == b"QUIT":
            sock.sendall(b"+OK bye\r\n")
            return
        else:
            sock.sendall(b"+OK\r\n")


def serve_pop3(conn, context, log, inject=True, offer=True):
    plain = conn.makefile("rb")
    conn.sendall(b"+OK ready\r\n")
    if not offer:
        raw = plain.readline()
        if raw.strip().upper() == b"CAPA":
            conn.sendall(b"+OK\r\nUSER\r\nUIDL\r\n.\r\n")
        serve_pop3_dialogue(conn, plain, log)
        return
    if not until_tls(conn, plain, (b"CAPA", b"+OK\r\nSTLS\r\nUSER\r\n.\r\n"), b"STLS",
                     b"+OK begin TLS\r\n" + (FORGED_POP3 if inject else b""),
                     b"-ERR say STLS first\r\n"):
        return
    tls = context.wrap_socket(conn, server_side=True)
    serve_pop3_dialogue(tls, tls.makefile("rb"), log)


def serve_smtp(conn, context, log):
    plain = conn.makefile("rb")
    conn.sendall(b"220 injector ESMTP\r\n")
    if not until_tls(conn, plain, (b"EHLO", b"250-injector\r\n250-STARTTLS\r\n250 8BITMIME\r\n"),
                     b"STARTTLS", b"220 go ahead\r\n" + FORGED_SMTP, b"530 STARTTLS first\r\n"):
        return
    tls = context.wrap_socket(conn, server_side=True)
    stream = tls.makefile("rb")
    in_data = False
    for raw in lines(stream):
        if in_data:
            if raw in (b".\r\n", b".\n"):
                in_data = False
                tls.sendall(b"250 queued\r\n")
            continue
        command = raw.strip().upper()
        log.write(command.decode("ascii", "replace") + "\n")
        log.flush()
        if command.startswith(b"EHLO"):
            tls.sendall(b"250-injector\r\n250 8BITMIME\r\n")
        elif command == b"DATA":
            in_data = True
            tls.sendall(b"354 go on\r\n")
        elif command == b"QUIT":
            tls.sendall(b"221 bye\r\n")
            return
        else:
            tls.sendall(b"250 ok\r\n")


def main():
    protocol, cert, key, log_path = sys.argv[1:5]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    listener.settimeout(1)
    print(listener.getsockname()[1], flush=True)
    deadline = time.time() + 30
    connections = 0
    with open(log_path, "a") as log:
        while time.time() < deadline:
            try:
                conn, _ = listener.accept()
            except socket.timeout:
                continue
            conn.settimeout(10)
            connections += 1
            with conn:
                try:
                    if protocol == "pop3":
                        serve_pop3(conn, context, log)
                    elif protocol == "pop3-strip":
                        serve_pop3(conn, context, log, inject=False, offer=connections == 1)
                    else:
                        serve_smtp(conn, context, log)
                except (OSError, ssl.SSLError):
                    pass


if __name__ == "__main__":
    main()
