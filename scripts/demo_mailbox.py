"""Fills the demo's mailbox (user taro of the servers started by
tests/harness/servers.sh) with Japanese mail as it really arrives: from a
Windows mailer in ISO-2022-JP, from mobile phones in Shift_JIS and UTF-8,
one with an attachment and one long mail.

    demo_mailbox.py SERVERS_ENV
"""

import base64
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "harness"))
import mailkit  # noqa: E402


def header_jis(text):
    return "=?ISO-2022-JP?B?%s?=" % base64.b64encode(mailkit.jis(text)).decode()


def header_b(text, charset, codec):
    return "=?%s?B?%s?=" % (charset, base64.b64encode(text.encode(codec)).decode())


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def windows_mail():
    body = ("山田様\n\nいつもお世話になっております。㈱ルモラ商事の佐藤です。\n\n"
            "来週の打ち合わせの日程について、下記の候補をお送りします。\n"
            "①　12月14日（月）10:00～11:00\n②　12月15日（火）14:00～15:00\n"
            "③　12月17日（木）16:00～17:00\n\n"
            "ご都合のよい日時をお知らせいただけますと幸いです。\n"
            "髙橋も同席いたします。\n\n──────────────\n㈱ルモラ商事　営業部　佐藤 一郎\n"
            "ＴＥＬ：03-1234-5678\n──────────────\n")
    return (b"From: " + header_jis("佐藤 一郎").encode() + b" <sato@lumora-shoji.example.jp>\r\n"
            b"To: taro@example.jp\r\n"
            b"Subject: " + header_jis("打ち合わせ日程のご相談（①～③）").encode() + b"\r\n"
            b"Date: Mon, 07 Dec 2026 09:12:00 +0900\r\n"
            b"Message-ID: <demo-1@lumora-shoji.example.jp>\r\n"
            b"MIME-Version: 1.0\r\n"
            b"X-Mailer: Microsoft Outlook 16.0\r\n"
            b"Content-Type: text/plain; charset=\"iso-2022-jp\"\r\n"
            b"Content-Transfer-Encoding: 7bit\r\n\r\n" + crlf_bytes(mailkit.jis(crlf(body))))


def crlf_bytes(data):
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def mobile_sjis_mail():
    body = "おつかれさま！\n今夜の飲み会、ｼﾌﾞﾔ駅ハチ公口に19時でOK？\n遅れそうなら連絡してね。\n"
    encoded = base64.encodebytes(crlf(body).encode("cp932")).decode().replace("\n", "\r\n")
    return ("From: hanako.mobile@docomo.example.ne.jp\r\n"
            "To: taro@example.jp\r\n"
            "Subject: " + header_b("今夜の件", "Shift_JIS", "cp932") + "\r\n"
            "Date: Mon, 07 Dec 2026 12:34:00 +0900\r\n"
            "Message-ID: <demo-2@docomo.example.ne.jp>\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=Shift_JIS\r\n"
            "Content-Transfer-Encoding: base64\r\n\r\n" + encoded).encode()


def attachment_mail():
    text = "いつもありがとうございます。\n見積書をお送りしますので、ご確認ください。\n\n鈴木\n"
    csv = "品名,数量,単価\r\nノートパソコン,2,128000\r\nマウス,2,2980\r\n".encode("cp932")
    name = "見積書（12月）.csv"
    return ("From: " + header_jis("鈴木 花子") + " <suzuki@example.co.jp>\r\n"
            "To: taro@example.jp\r\n"
            "Subject: " + header_jis("お見積書送付のご案内") + "\r\n"
            "Date: Tue, 08 Dec 2026 10:05:00 +0900\r\n"
            "Message-ID: <demo-3@example.co.jp>\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=\"demo-boundary\"\r\n\r\n"
            "--demo-boundary\r\n"
            "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
            "Content-Transfer-Encoding: 7bit\r\n\r\n").encode() + \
        mailkit.jis(crlf(text)) + \
        ("\r\n--demo-boundary\r\n"
         "Content-Type: text/csv; name=\"" + header_jis(name) + "\"\r\n"
         "Content-Disposition: attachment; filename=\"" + header_jis(name) + "\"\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n" +
         base64.encodebytes(csv).decode().replace("\n", "\r\n") +
         "--demo-boundary--\r\n").encode()


def long_mail():
    paragraphs = []
    for i in range(1, 41):
        paragraphs.append(
            "%d. 第%d回の議題について、参加者から多くの意見が寄せられました。"
            "予算、日程、担当の割り振りを一つずつ確かめ、次回までに各自が資料を"
            "まとめることになりました。絵文字も届きます🙂。" % (i, i))
    body = "定例会議の議事録です（長文）。\n\n" + "\n\n".join(paragraphs) + "\n\n以上\n"
    encoded = base64.encodebytes(crlf(body).encode("utf-8")).decode().replace("\n", "\r\n")
    return ("From: " + header_b("田中 次郎", "UTF-8", "utf-8") + " <tanaka@example.jp>\r\n"
            "To: taro@example.jp\r\n"
            "Subject: " + header_b("定例会議の議事録（長文）", "UTF-8", "utf-8") + "\r\n"
            "Date: Tue, 08 Dec 2026 18:30:00 +0900\r\n"
            "Message-ID: <demo-4@example.jp>\r\n"
            "MIME-Version: 1.0\r\n"
            "X-Mailer: iPhone Mail (20A362)\r\n"
            "Content-Type: text/plain; charset=UTF-8\r\n"
            "Content-Transfer-Encoding: base64\r\n\r\n" + encoded).encode()


def main():
    env = mailkit.read_env(sys.argv[1])
    mails = [windows_mail(), mobile_sjis_mail(), attachment_mail(), long_mail()]
    for mail in mails:
        mailkit.deliver(env, "taro", mail)
    print("%d mails waiting for taro" % len(mails))


if __name__ == "__main__":
    main()
