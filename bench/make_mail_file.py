#!/usr/bin/env python3
"""Writes a received-mail file (krddata2.data) of generated Japanese mails.

Each record is 32284 bytes as the program stores it: Subject (100), Date (90),
From (90) and Body (32000) in CP932 padded with spaces, CR LF, and the 16-bit
little-endian live flag 1. Bodies are 2 to 20 KB. The same arguments always
give the same file.

    make_mail_file.py OUT COUNT [--seed N]
"""
import argparse
import random

SUBJECTS = ["会議の議事録について", "来週の打ち合わせ日程", "お見積りのご依頼", "新製品のご案内",
            "年末年始の営業について", "請求書送付のお知らせ", "ご注文ありがとうございます",
            "研修会のご案内", "出張報告", "忘年会の出欠確認", "システム更新のお知らせ",
            "資料送付の件", "お問い合わせの件", "町内会だより１２月号", "写真を送ります"]
SENDERS = ["山田 太郎 <taro@example.jp>", "佐藤 花子 <hanako@example.jp>",
           "鈴木 一郎 <ichiro@example.co.jp>", "高橋 美咲 <misaki@example.ne.jp>",
           "田中 健 <ken@example.jp>", "伊藤 由美 <yumi@example.or.jp>",
           "渡辺 商事 <info@watanabe.example.jp>"]
SENTENCES = ["いつもお世話になっております。", "先日はありがとうございました。",
             "添付の資料をご確認ください。", "ご不明な点がございましたらお知らせください。",
             "よろしくお願いいたします。", "来週の月曜日に改めてご連絡いたします。",
             "日程の候補を三つ挙げましたので、ご都合をお聞かせください。",
             "寒い日が続きますので、お体にお気をつけください。",
             "Please find the minutes attached.", "①会場 ②日時 ③持ち物 をご確認ください。"]
DAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]

RECORD = 32284


def field(text, width):
    data = text.encode("cp932")
    if len(data) > width:
        data = data[:width]
        # never end inside a double-byte character
        cut = data.decode("cp932", errors="ignore").encode("cp932")
        data = cut
    return data + b" " * (width - len(data))


def record(rng, n):
    subject = f"{rng.choice(SUBJECTS)}（{n}）"
    sender = rng.choice(SENDERS)
    day = 1 + n % 28
    date = f"{DAYS[n % 7]}, {day} Nov 2026 {9 + n % 10:02d}:{n % 60:02d}:00 +0900"
    size = rng.randint(2000, 20000)
    lines = [f"{sender.split('<')[0].strip()}です。", ""]
    total = 0
    while total < size:
        line = "".join(rng.choice(SENTENCES) for _ in range(rng.randint(1, 3)))
        lines.append(line)
        total += len(line.encode("cp932")) + 2
    body = "\r\n".join(lines)
    return (field(subject, 100) + field(date, 90) + field(sender, 90) + field(body, 32000) +
            b"\r\n" + b"\x01\x00")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("count", type=int)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    with open(args.out, "wb") as out:
        for n in range(1, args.count + 1):
            r = record(rng, n)
            assert len(r) == RECORD
            out.write(r)


if __name__ == "__main__":
    main()
