#!/usr/bin/env python3
"""Writes an mbox of generated Japanese mails for the search benchmark: the
viewer benchmark's subjects, senders and sentences (bodies of 2 to 20 KB),
in ISO-2022-JP, Shift_JIS or UTF-8 as Japanese mailers send them, some with
an attached file's name. The same arguments always give the same file.

    make_search_mbox.py OUT COUNT [--seed N]
"""
import argparse
import base64
import random
import sys
from email.header import Header

sys.path.insert(0, __import__("os").path.dirname(__file__))
from make_mail_file import DAYS, SENDERS, SENTENCES, SUBJECTS  # noqa: E402

FILES = ["議事録.pdf", "見積書.xlsx", "写真.jpg", "地図.png", "請求書.pdf"]
CHARSETS = [("iso-2022-jp", "7bit"), ("cp932", "base64"), ("utf-8", "base64")]


def mail(rng, n, seed):
    subject = f"{rng.choice(SUBJECTS)}（{n}）"
    name, address = rng.choice(SENDERS)[:-1].split(" <")
    day = 1 + n % 28
    date = f"{DAYS[n % 7]}, {day} Nov 2026 {9 + n % 10:02d}:{n % 60:02d}:00 +0900"
    size = rng.randint(2000, 20000)
    lines, total = [f"{name}です。", ""], 0
    while total < size:
        line = "".join(rng.choice(SENTENCES) for _ in range(rng.randint(1, 3)))
        lines.append(line)
        total += len(line.encode("utf-8")) + 2
    body = "\r\n".join(lines) + "\r\n"
    charset, encoding = rng.choice(CHARSETS)
    # ① and the like are in CP932 (what Shift_JIS mail holds) and in
    # ISO-2022-JP only as the Windows mailers extend it.
    data = body.encode("cp932" if charset == "cp932" else
                       "iso2022_jp_ext" if charset == "iso-2022-jp" else charset,
                       errors="replace")
    if encoding == "base64":
        data = base64.encodebytes(data).replace(b"\n", b"\r\n")
    head = (f"From: {Header(name, 'iso-2022-jp').encode()} <{address}>\r\n"
            f"To: taro@example.jp\r\nSubject: {Header(subject, 'iso-2022-jp').encode()}\r\n"
            f"Date: {date}\r\nMessage-ID: <search-{seed}-{n}@example.jp>\r\nMIME-Version: 1.0\r\n")
    label = "Shift_JIS" if charset == "cp932" else charset
    text = (f"Content-Type: text/plain; charset={label}\r\n"
            f"Content-Transfer-Encoding: {encoding}\r\n\r\n").encode() + data
    if n % 9 != 0:
        return head.encode() + text
    file = rng.choice(FILES)
    return (head.encode() + b"Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n" +
            text + b"\r\n--b\r\nContent-Type: application/octet-stream\r\n"
            b"Content-Disposition: attachment; filename=\"" +
            Header(file, "utf-8").encode().encode() +
            b"\"\r\nContent-Transfer-Encoding: base64\r\n\r\nAAAA\r\n--b--\r\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("count", type=int)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    with open(args.out, "wb") as out:
        for n in range(1, args.count + 1):
            out.write(b"From search@example.jp Mon Nov  2 09:00:00 2026\n")
            for line in mail(rng, n, args.seed).split(b"\r\n"):
                if line.lstrip(b">").startswith(b"From "):
                    line = b">" + line
                out.write(line + b"\n")
            out.write(b"\n")


if __name__ == "__main__":
    main()
