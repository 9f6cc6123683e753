#!/usr/bin/python3
"""Sample mails, and other programs' mail files made and read with Python's
own mailbox and email packages.

    mail_samples.py samples DIR             the sample mails as DIR/NN.eml
    mail_samples.py letter DIR              a long Japanese letter as DIR/01.eml
    mail_samples.py mbox|maildir|mh DIR OUT the .eml files of DIR into OUT
    mail_samples.py read mbox|eml|maildir|mh PATH
                                            JSON: subject, from, body, files
"""

import email
import email.policy
import json
import mailbox
import os
import sys
from email.message import EmailMessage

PNG = bytes.fromhex(
    "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
    "1f15c4890000000d49444154789c6360f8cf00000301010018dd8db00000000049454e44ae426082")


def long_body():
    lines = ["これは長いメールの %05d 行目です。最後まで読めますか。" % n for n in range(1700)]
    return "\n".join(lines) + "\nおしまい\n"


def message(headers):
    """A mail with the header fields given, in their order."""
    m = EmailMessage()
    for name, value in headers:
        m[name] = value
    return m


def samples():
    long_mail = message([("From", "山田太郎 <taro@example.jp>"), ("To", "hanako@example.jp"),
                         ("Subject", "長いメール"), ("Date", "Mon, 07 Dec 2026 10:00:00 +0900"),
                         ("Message-ID", "<long.1@example.jp>")])
    long_mail.set_content(long_body(), charset="utf-8", cte="8bit")

    emoji = message([("From", "José Müller <jose@example.com>"),
                     ("To", "Hanako <hanako@example.jp>"), ("Cc", "Zoë <zoe@example.com>"),
                     ("Subject", "Café ☕ 🎉 Müller"), ("Date", "Tue, 08 Dec 2026 09:30:00 +0100"),
                     ("Message-ID", "<emoji.2@example.com>"),
                     ("References", "<start.0@example.com>")])
    emoji.set_content("Grüße aus Köln, naïve café – 絵文字 😀👍🏽 ✈\n")
    emoji.add_attachment(b"CV\n", maintype="text", subtype="plain", filename="résumé 🎉.txt")

    html = message([("From", "news@example.jp"), ("To", "hanako@example.jp"),
                    ("Subject", "HTMLのお知らせ"), ("Date", "Wed, 09 Dec 2026 08:00:00 +0900"),
                    ("Message-ID", "<html.3@example.jp>")])
    html.set_content("テキスト版のお知らせです。\n")
    html.add_alternative('<p>HTML版の<b>お知らせ</b><img src="cid:pic1"></p>', subtype="html")
    html.get_payload()[1].add_related(PNG, "image", "png", cid="<pic1>", disposition="inline")

    from_lines = message([("From", "hanako@example.jp"), ("Subject", "From lines"),
                          ("Date", "Thu, 10 Dec 2026 12:00:00 +0900"),
                          ("Message-ID", "<from.4@example.jp>")])
    from_lines.set_content(
        "First line\nFrom here on it is tricky\n>From quoted once\n>>From twice\nend\n",
        charset="iso-2022-jp")
    return [long_mail, emoji, html, from_lines]


def letter():
    """A long Japanese letter with characters a record cannot hold."""
    m = message([("From", "佐藤 花子 <hanako@example.jp>"), ("To", "山田 太郎 <taro@example.jp>"),
                 ("Cc", "鈴木 一郎 <ichiro@example.jp>"), ("Subject", "忘年会のご案内と会場の地図 🍶🎍"),
                 ("Date", "Tue, 08 Dec 2026 18:30:00 +0900"),
                 ("Message-ID", "<bonenkai.2026@example.jp>")])
    paragraphs = [
        "山田さん\n\nいつもお世話になっております。佐藤です。",
        "今年も残りわずかとなりました。恒例の忘年会を下記のとおり開きます。"
        "ご多用中とは存じますが、ぜひご参加ください 😊",
        "日時：12月18日（金）19時から21時まで\n場所：駅前の「さくら」二階の座敷\n"
        "会費：5,000円（当日集めます）",
        "今回はフランスから Chloé さんと Zoë さんも来られます。"
        "乾杯の挨拶はいつものとおり部長にお願いしています。",
    ]
    body = "\n\n".join(paragraphs)
    body += "\n\n" + "\n".join("%d. 持ち物・連絡事項の控え（その %d）：特にありません。" % (n, n)
                                 for n in range(1, 1500))
    body += "\n\nよろしくお願いいたします。\n佐藤 花子\n"
    m.set_content(body)
    return m


def as_bytes(message):
    return message.as_bytes(policy=email.policy.SMTP)


def write_samples(folder):
    os.makedirs(folder, exist_ok=True)
    for n, message in enumerate(samples(), 1):
        with open(os.path.join(folder, "%02d.eml" % n), "wb") as f:
            f.write(as_bytes(message))


def eml_files(folder):
    for name in sorted(os.listdir(folder)):
        if name.endswith(".eml"):
            with open(os.path.join(folder, name), "rb") as f:
                yield f.read()


def write_box(kind, folder, out):
    box = {"mbox": mailbox.mbox, "maildir": mailbox.Maildir, "mh": mailbox.MH}[kind](out)
    box.lock()
    for data in eml_files(folder):
        box.add(email.message_from_bytes(data))
    box.flush()
    box.unlock()


def describe(message):
    message = email.message_from_bytes(message.as_bytes() if hasattr(message, "as_bytes")
                                       else message, policy=email.policy.default)
    body = message.get_body(preferencelist=("plain", "html"))
    files = [part.get_filename() for part in message.iter_attachments() if part.get_filename()]
    return {"subject": str(message["Subject"] or ""), "from": str(message["From"] or ""),
            "body": body.get_content() if body else "", "files": files}


def read(kind, path):
    if kind == "eml":
        return [describe(data) for data in eml_files(path)]
    box = {"mbox": mailbox.mbox, "maildir": mailbox.Maildir, "mh": mailbox.MH}[kind](path)
    return [describe(box.get_bytes(key)) for key in sorted(box.keys(), key=str)] \
        if kind != "mbox" else [describe(box.get_bytes(key)) for key in box.keys()]


def main():
    command = sys.argv[1]
    if command == "samples":
        write_samples(sys.argv[2])
    elif command == "letter":
        os.makedirs(sys.argv[2], exist_ok=True)
        with open(os.path.join(sys.argv[2], "01.eml"), "wb") as f:
            f.write(as_bytes(letter()))
    elif command in ("mbox", "maildir", "mh"):
        write_box(command, sys.argv[2], sys.argv[3])
    elif command == "read":
        json.dump(read(sys.argv[2], sys.argv[3]), sys.stdout, ensure_ascii=False)
    else:
        sys.exit("unknown command " + command)


if __name__ == "__main__":
    main()
