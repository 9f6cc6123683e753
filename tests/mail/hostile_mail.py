#!/usr/bin/python3
"""Writes hostile mails, one .eml file per case, into a folder:

    hostile_mail.py FOLDER [--scale S]

At scale 1 (the default) the sizes are the ones that once took minutes or
gigabytes to decode: a 10 MB subject, a 10 MB parameter, an unclosed script
of 1 MB, 100 000 encoded words, a 10 MB folded header, a million header
lines, 100 000 parts, 12 000 parts of one name, 5000 nested multiparts and a
4 MB line; the test suite uses a small scale. Every mail is still a mail: it has a From, a
Subject and a text, so that what the decoder keeps can be checked.
"""

import argparse
import os


def head(subject="hostile", extra=b""):
    return (b"From: attacker@example.jp\r\nTo: taro@example.jp\r\n"
            b"Date: Tue, 8 Dec 2026 10:00:00 +0900\r\nMessage-ID: <h@example.jp>\r\n"
            b"Subject: " + subject.encode() + b"\r\nMIME-Version: 1.0\r\n" + extra)


def cases(scale):
    mb = int(1024 * 1024 * scale)
    yield "long_subject", head("x" * (10 * mb)) + b"\r\nbody\r\n"
    yield "long_parameter", (head("parameter") +
        b"Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
        b"Content-Type: text/plain\r\n\r\ntext\r\n--b\r\n"
        b"Content-Type: application/octet-stream; name=\"" + b"n" * (10 * mb) + b"\"\r\n"
        b"Content-Transfer-Encoding: base64\r\n\r\nQUJD\r\n--b--\r\n")
    yield "unclosed_script", (head("script") + b"Content-Type: text/html\r\n\r\n"
        b"<html><body>hello<script>" + b"var a = 1 < 2;\r\n" * (mb // 16) + b"\r\n")
    words = int(100000 * scale)
    yield "encoded_words", head(" ".join(["=?UTF-8?B?44GC?="] * words)) + b"\r\nbody\r\n"
    yield "folded_header", (head("folded") + b"X-Long: start\r\n" +
        b"\t" + b"y" * 70 + b"\r\n" * 1 + (b"\t" + b"y" * 70 + b"\r\n") * (10 * mb // 73) +
        b"\r\nbody\r\n")
    lines = int(1000000 * scale)
    yield "many_header_lines", head("lines") + b"X-A: b\r\n" * lines + b"\r\nbody\r\n"
    parts = int(100000 * scale)
    yield "many_parts", (head("parts") + b"Content-Type: multipart/mixed; boundary=b\r\n\r\n" +
        b"--b\r\nContent-Type: text/plain\r\n\r\ntext\r\n" +
        b"--b\r\nContent-Type: application/octet-stream\r\n\r\nx\r\n" * parts + b"--b--\r\n")
    same = int(12000 * scale)
    yield "same_names", (head("same") + b"Content-Type: multipart/mixed; boundary=b\r\n\r\n" +
        b"--b\r\nContent-Type: text/plain\r\n\r\ntext\r\n" +
        b"--b\r\nContent-Type: text/plain; name=\"a.txt\"\r\n"
        b"Content-Disposition: attachment; filename=\"a.txt\"\r\n\r\nx\r\n" * same + b"--b--\r\n")
    depth = int(5000 * scale)
    yield "deep_nesting", (head("deep") + b"".join(
        b"Content-Type: multipart/mixed; boundary=b%d\r\n\r\n--b%d\r\n" % (i, i)
        for i in range(depth)) + b"Content-Type: text/plain\r\n\r\ninner\r\n")
    yield "long_line_body", head("line") + b"\r\n" + b"z" * (mb * 4) + b"\r\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--scale", type=float, default=1.0)
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    for name, data in cases(args.scale):
        with open(os.path.join(args.folder, name + ".eml"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
