#!/usr/bin/python3
"""Writes a realistic Japanese mailbox as one file per mail:

    make_mailbox.py DIR COUNT

70% short ISO-2022-JP mails, 25% with a "40 KB" attachment, 5% with a
"500 KB" attachment, about 43 MB for 1000 mails: the files are 35 000 and
430 000 bytes, which base64 makes 48 KB and 590 KB in the mail. From a fixed
seed, so every run gets the same mailbox."""

import base64
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "harness"))

from mailkit import jis  # noqa: E402

WORDS = ["お世話になっております", "打ち合わせ", "資料", "ご確認ください", "よろしくお願いします",
         "来週", "会議室", "見積書", "納期", "ありがとうございました", "株式会社", "担当", "①", "～"]




def word(text):
    return b"=?ISO-2022-JP?B?" + base64.b64encode(jis(text)) + b"?="


def main():
    folder, count = sys.argv[1], int(sys.argv[2])
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(7)
    total = 0
    for n in range(count):
        kind = n % 20  # 14 short, 5 with 40 KB, 1 with 500 KB in every 20
        subject = "【%04d】%sの件" % (n, rng.choice(WORDS))
        lines = ["山田様", ""] + ["".join(rng.choice(WORDS) for _ in range(4)) + "。"
                                  for _ in range(rng.randint(5, 25))] + ["", "田中"]
        head = (b"Return-Path: <tanaka@example.co.jp>\r\n"
                b"Received: from mx.example.co.jp by mail.example.jp; Mon, 7 Dec 2026 09:00:00 +0900\r\n"
                b"From: " + word("田中一郎") + b" <tanaka@example.co.jp>\r\n"
                b"To: " + word("山田太郎") + b" <taro@example.jp>\r\n"
                b"Subject: " + word(subject) + b"\r\n"
                b"Date: Mon, 7 Dec 2026 09:%02d:%02d +0900\r\n" % (n // 60 % 60, n % 60) +
                b"Message-ID: <%d.bench@example.co.jp>\r\nMIME-Version: 1.0\r\n" % n)
        body = b"\r\n".join(jis(line) for line in lines) + b"\r\n"
        if kind < 14:
            mail = head + b"Content-Type: text/plain; charset=ISO-2022-JP\r\n" \
                          b"Content-Transfer-Encoding: 7bit\r\n\r\n" + body
        else:
            size = 430_000 if kind == 19 else 35_000
            data = rng.randbytes(size)
            name = "資料%04d.pdf" % n
            mail = (head + b"Content-Type: multipart/mixed; boundary=\"=_b%d\"\r\n\r\n" % n +
                    b"--=_b%d\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n"
                    b"Content-Transfer-Encoding: 7bit\r\n\r\n" % n + body +
                    b"--=_b%d\r\nContent-Type: application/pdf; name=\"" % n + word(name) + b"\"\r\n"
                    b"Content-Transfer-Encoding: base64\r\n"
                    b"Content-Disposition: attachment; filename=\"" + word(name) + b"\"\r\n\r\n" +
                    base64.encodebytes(data).replace(b"\n", b"\r\n") + b"--=_b%d--\r\n" % n)
        with open(os.path.join(folder, "%05d.eml" % n), "wb") as f:
            f.write(mail)
        total += len(mail)
    print("%d mails, %.1f MB" % (count, total / 1e6))


if __name__ == "__main__":
    main()
