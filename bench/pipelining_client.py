#!/usr/bin/python3
"""A reference SMTP client that pipelines as far as RFC 2920 allows: one
connection and one log-in (AUTH PLAIN) for every mail; a mail's MAIL FROM,
RCPT TO and DATA go out in one write, and from the second mail on together
with the end of the mail before, so that each mail costs one round trip.
Fails unless the server offers PIPELINING.

    pipelining_client.py PORT USER PASSWORD FROM MESSAGE_FILE RECIPIENT...
"""

import base64
import socket
import sys


class Replies:
    def __init__(self, sock):
        self.sock, self.buffer = sock, b""

    def read(self):
        """One whole reply: its code and its lines."""
        lines = []
        while True:
            while b"\r\n" not in self.buffer:
                data = self.sock.recv(65536)
                if not data:
                    sys.exit("the server closed the connection")
                self.buffer += data
            line, self.buffer = self.buffer.split(b"\r\n", 1)
            lines.append(line)
            if line[3:4] != b"-":
                return int(line[:3]), lines


def expect(replies, codes):
    code, lines = replies.read()
    if code not in codes:
        sys.exit("unexpected reply: %r" % lines)
    return lines


def main():
    port, user, password, sender, message = sys.argv[1:6]
    recipients = sys.argv[6:]
    data = open(message, "rb").read()
    data = b"\r\n".join(b"." + l if l.startswith(b".") else l for l in data.split(b"\r\n"))
    if not data.endswith(b"\r\n"):
        data += b"\r\n"
    data += b".\r\n"
    sock = socket.create_connection(("127.0.0.1", int(port)))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    replies = Replies(sock)
    expect(replies, (220,))
    sock.sendall(b"EHLO [127.0.0.1]\r\n")
    if b"PIPELINING" not in b" ".join(expect(replies, (250,))):
        sys.exit("the server does not offer PIPELINING")
    token = base64.b64encode(b"\0" + user.encode() + b"\0" + password.encode())
    sock.sendall(b"AUTH PLAIN " + token + b"\r\n")
    expect(replies, (235,))

    def envelope(recipient):
        return (b"MAIL FROM:<%s>\r\nRCPT TO:<%s>\r\nDATA\r\n"
                % (sender.encode(), recipient.encode()))

    sock.sendall(envelope(recipients[0]))
    for i, _ in enumerate(recipients):
        expect(replies, (250,))  # MAIL
        expect(replies, (250,))  # RCPT
        expect(replies, (354,))  # DATA
        following = envelope(recipients[i + 1]) if i + 1 < len(recipients) else b"QUIT\r\n"
        sock.sendall(data + following)
        expect(replies, (250,))  # the end of data
    expect(replies, (221,))
    sock.close()


if __name__ == "__main__":
    main()
