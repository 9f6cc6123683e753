"""A throw-away SMTP server for the tests, on Debian's aiosmtpd.

Every message it accepts is written to the spool folder as NNNN.eml (the
bytes as received) with NNNN.envelope beside it (MAIL FROM and RCPT TO
lines, and "SMTPUTF8" when the client asked for it). It offers STARTTLS,
SMTPUTF8 and AUTH PLAIN/LOGIN for the one user given; with --smtps-port it
also listens with implicit TLS, and with --small-port it also listens where
it announces (and keeps) a SIZE limit of 256 KB and takes ASCII commands
only, as a server without SMTPUTF8 does. It runs until SIGTERM.
"""

import argparse
import asyncio
import os
import signal
import ssl
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class SpoolHandler:
    def __init__(self, spool):
        self.spool = spool
        self.lock = threading.Lock()
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            stem = os.path.join(self.spool, "%04d" % self.count)
        data = envelope.original_content or envelope.content
        if isinstance(data, str):
            data = data.encode("utf-8", "surrogateescape")
        tmp = stem + ".eml.part"
        with open(tmp, "wb") as f:
            f.write(data)
        with open(stem + ".envelope", "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write("MAIL FROM:%s\n" % envelope.mail_from)
            for rcpt in envelope.rcpt_tos:
                f.write("RCPT TO:%s\n" % rcpt)
            if envelope.smtp_utf8:
                f.write("SMTPUTF8\n")
        os.rename(tmp, stem + ".eml")
        return "250 OK"


class Authenticator:
    def __init__(self, user, password):
        self.user = user.encode()
        self.password = password.encode()

    def __call__(self, server, session, envelope, mechanism, auth_data):
        if isinstance(auth_data, LoginPassword):
            if auth_data.login == self.user and auth_data.password == self.password:
                return AuthResult(success=True)
        return AuthResult(success=False, handled=False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--smtps-port", type=int)
    parser.add_argument("--spool", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--small-port", type=int)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()

    os.makedirs(args.spool, exist_ok=True)
    handler = SpoolHandler(args.spool)
    auth = Authenticator(args.user, args.password)
    tls = None
    if args.cert and args.key:
        tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls.load_cert_chain(args.cert, args.key)

    common = dict(authenticator=auth, auth_require_tls=False, decode_data=False,
                  data_size_limit=64 * 1024 * 1024)
    international = dict(common, enable_SMTPUTF8=True)
    controllers = [Controller(handler, hostname="127.0.0.1", port=args.port,
                              tls_context=tls, require_starttls=False, **international)]
    if args.smtps_port and tls:
        controllers.append(Controller(handler, hostname="127.0.0.1", port=args.smtps_port,
                                      ssl_context=tls, **international))
    if args.small_port:
        small = dict(common, data_size_limit=256 * 1024, enable_SMTPUTF8=False)
        controllers.append(Controller(handler, hostname="127.0.0.1", port=args.small_port,
                                      tls_context=tls, require_starttls=False, **small))
    for c in controllers:
        c.start()

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    stop.wait()
    for c in controllers:
        c.stop()


if __name__ == "__main__":
    main()
