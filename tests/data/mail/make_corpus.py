#!/usr/bin/python3
"""Writes the decoding corpus: one mail per file, each a case the decoder
must read correctly. Run it from anywhere; it writes beside itself.
The expectations are in tests/mail/decoding_test.cpp."""

import base64
import os
import quopri
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "harness"))

from mailkit import jis  # noqa: E402




def b_word(data, charset):
    return b"=?" + charset.encode() + b"?B?" + base64.b64encode(data) + b"?="


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))


def jis_body(text):
    return b"\r\n".join(jis(line) for line in text.split("\n"))


HEAD = b"From: sender@example.jp\r\nTo: taro@example.jp\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n"

# ISO-2022-JP with the Windows extensions in subject and body.
write("iso2022jp_windows_extensions.eml",
      b"From: " + b_word(jis("髙橋"), "ISO-2022-JP") + b" <takahashi@example.jp>\r\n"
      b"Subject: " + b_word(jis("①会議㈱の件"), "ISO-2022-JP") + b"\r\n"
      b"Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" +
      jis_body("髙橋です。\n①②③ ㈱ № ～ ｶﾀｶﾅ\n以上"))

# Every Shift_JIS label is CP932.
write("shift_jis_label.eml", HEAD +
      b"Subject: " + b_word("～波ダッシュ①".encode("cp932"), "Shift_JIS") + b"\r\n"
      b"Content-Type: text/plain; charset=\"shift_jis\"\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
      "全角チルダ～と①、NEC特殊文字㈱\r\n".encode("cp932"))

write("euc_jp.eml", HEAD +
      b"Subject: " + b_word("日本語の件名".encode("euc_jp"), "EUC-JP") + b"\r\n"
      b"Content-Type: text/plain; charset=EUC-JP\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
      "EUC-JPの本文です。\r\n".encode("euc_jp"))

# UTF-8 encoded words split inside a character, base64 body.
subject = "絵文字なしのUTF-8件名".encode("utf-8")
write("utf8_split_words.eml", HEAD +
      b"Subject: " + b_word(subject[:7], "UTF-8") + b"\r\n " + b_word(subject[7:], "utf-8") + b"\r\n"
      b"Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
      base64.encodebytes("UTF-8の本文　𠮷野家\n".encode("utf-8")))

# Raw 8-bit headers and bodies with no charset at all.
write("raw_8bit_cp932.eml", HEAD +
      b"Subject: " + "生の８ビット件名".encode("cp932") + b"\r\n\r\n" +
      "文字コード指定のない本文です。\r\n".encode("cp932"))
write("raw_8bit_euc.eml", HEAD +
      b"Subject: " + "ＥＵＣの生ヘッダ".encode("euc_jp") + b"\r\n\r\n" +
      "こちらもEUC-JPで書かれた本文です。ひらがなとカタカナ。\r\n".encode("euc_jp"))
# A wrong label: UTF-8 bytes under ISO-2022-JP.
write("wrong_label_utf8.eml", HEAD +
      b"Subject: =?ISO-2022-JP?B?" + base64.b64encode("間違ったラベル".encode("utf-8")) + b"?=\r\n"
      b"Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + "本当はUTF-8です。\r\n".encode("utf-8"))

write("latin1_q.eml", HEAD +
      b"Subject: =?ISO-8859-1?Q?Caf=E9_cr=E8me?=\r\n"
      b"Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
      quopri.encodestring("Ça coûte 5 €? Non, 5 £.\n".encode("latin-1", errors="replace")))

write("halfwidth_kana.eml", HEAD +
      b"Subject: " + b_word(jis("ﾊﾝｶｸｶﾅ"), "ISO-2022-JP") + b"\r\n"
      b"Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + jis_body("ﾃｽﾄﾒｰﾙ ｶﾞｷﾞｸﾞ\n") +
      b"\x0e\x36\x37\x0f\r\n")

# Attachments and their names.
pdf = b"%PDF-1.4\n" + bytes(range(256)) * 8 + b"%%EOF\n"
long_name = "とても長い名前" * 8 + ".pdf"
encoded = "".join("%%%02X" % c for c in long_name.encode("utf-8"))
# Pieces of 60 characters, each a whole number of %XX escapes.
parts = [encoded[i:i + 60] for i in range(0, len(encoded), 60)]
continuation = ";\r\n".join(" filename*%d*=%s%s" % (n, "UTF-8''" if n == 0 else "", p)
                            for n, p in enumerate(parts))

write("rfc2231_continuations.eml", HEAD +
      b"Subject: names\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
      b"--b1\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nsee attached\r\n"
      b"--b1\r\nContent-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n"
      b"Content-Disposition: attachment;\r\n" + continuation.encode() + b"\r\n\r\n" +
      base64.encodebytes(pdf) +
      b"--b1\r\nContent-Type: text/plain; name=\"=?ISO-2022-JP?B?" + base64.b64encode(jis("議事録.txt")) +
      b"?=\"\r\nContent-Disposition: attachment\r\n\r\nminutes\r\n"
      b"--b1\r\nContent-Type: application/octet-stream; name=\"" + "生の名前.xls".encode("cp932") +
      b"\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + base64.encodebytes(b"xls") +
      b"--b1\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n"
      b"Content-Disposition: attachment; filename*=iso-2022-jp''" +
      "".join("%%%02X" % c for c in jis("画像.png")).encode() + b"\r\n\r\n" +
      base64.encodebytes(b"\x89PNG\r\n\x1a\n") + b"--b1--\r\n")

write("hostile_names.eml", HEAD +
      b"Subject: names\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
      b"--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n" +
      b"".join(b"--b\r\nContent-Type: application/octet-stream\r\n"
               b"Content-Disposition: attachment; filename=\"" + n + b"\"\r\n\r\n" + d + b"\r\n"
               for n, d in [(b"../../../etc/passwd", b"one"), (b"..", b"two"), (b"CON.txt", b"three"),
                            (b"a/b\\\\c:d*e?.txt", b"four"), (b"tab\\\tand\\\x01ctl.txt", b"five"),
                            (b"same.txt", b"six"), (b"same.txt", b"seven"),
                            (("長" * 150 + ".doc").encode("utf-8"), b"eight"),
                            (b"/absolute/path.sh", b"nine")]) +
      b"--b--\r\n")

uu = b"begin 644 hello.txt\r\n" + b"".join(
    bytes([32 + len(chunk)]) + b"".join(
        bytes([32 + ((v >> s) & 63) or 96 for s in (18, 12, 6, 0)])
        for v in [int.from_bytes(chunk[k:k + 3].ljust(3, b"\0"), "big") for k in range(0, len(chunk), 3)]) + b"\r\n"
    for chunk in [b"Hello, uuencoded world!\n" * 2, b"second line\n"]) + b"`\r\nend\r\n"
write("uuencode_inline.eml", HEAD + b"Subject: uu\r\n\r\nBefore the file.\r\n" + uu + b"After the file.\r\n")
write("x_uuencode.eml", HEAD +
      b"Subject: xuu\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"u\"\r\n\r\n"
      b"--u\r\nContent-Type: text/plain\r\n\r\ntext\r\n"
      b"--u\r\nContent-Type: application/octet-stream; name=\"hello.txt\"\r\n"
      b"Content-Transfer-Encoding: x-uuencode\r\n\r\n" + uu + b"--u--\r\n")

inner = (b"From: inner@example.jp\r\nSubject: " + b_word(jis("転送されたメール"), "ISO-2022-JP") +
         b"\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + jis_body("中身です") + b"\r\n")
write("message_rfc822.eml", HEAD +
      b"Subject: fwd\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"m\"\r\n\r\n"
      b"--m\r\nContent-Type: text/plain\r\n\r\nforwarded below\r\n"
      b"--m\r\nContent-Type: message/rfc822\r\n\r\n" + inner + b"--m--\r\n")

whole = (b"From: big@example.jp\r\nSubject: " + b_word(jis("分割メール"), "ISO-2022-JP") +
         b"\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"p\"\r\n\r\n"
         b"--p\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + jis_body("三つに分けて送りました") +
         b"\r\n--p\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
         b"Content-Transfer-Encoding: base64\r\n\r\n" + base64.encodebytes(bytes(range(256)) * 20) +
         b"--p--\r\n")
third = len(whole) // 3
chunks = [whole[:third], whole[third:2 * third], whole[2 * third:]]
for n, chunk in enumerate(chunks, 1):
    total = "; total=3" if n == 3 else ""
    write("partial_%d.eml" % n, HEAD + b"Subject: " + b_word(jis("分割メール"), "ISO-2022-JP") +
          ("\r\nMIME-Version: 1.0\r\nContent-Type: message/partial; id=\"abc@example.jp\"; number=%d%s\r\n\r\n"
           % (n, total)).encode() + chunk)

write("html_only.eml", HEAD +
      b"Subject: html\r\nMIME-Version: 1.0\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" +
      "<html><head><title>t</title><style>p{color:red}</style></head><body>"
      "<script>alert('x')</script><p>こんにちは&nbsp;&amp;&lt;世界&gt;</p>"
      "<p>二行目<br>三行目&#9312;&#x2460;</p><!-- comment --></body></html>".encode("utf-8"))

write("nested_alternative.eml", HEAD +
      b"Subject: nested\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"o\"\r\n\r\n"
      b"--o\r\nContent-Type: multipart/alternative; boundary=\"a\"\r\n\r\n"
      b"--a\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + jis_body("プレーンテキスト版") +
      b"\r\n--a\r\nContent-Type: multipart/related; boundary=\"r\"\r\n\r\n"
      b"--r\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + "<p>HTML版</p>".encode("utf-8") + b"\r\n"
      b"--r\r\nContent-Type: image/gif\r\nContent-Transfer-Encoding: base64\r\nContent-ID: <i1>\r\n\r\n" +
      base64.encodebytes(b"GIF89a") + b"--r--\r\n--a--\r\n"
      b"--o\r\nContent-Type: application/pdf; name=\"report.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
      base64.encodebytes(pdf) + b"--o\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
      b"-- \r\nmailing list footer\r\n--o--\r\n")

write("truncated.eml", HEAD +
      b"Subject: cut\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"t\"\r\n\r\n"
      b"--t\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + "途中で切れたメール\r\n".encode("utf-8") +
      b"--t\r\nContent-Type: application/pdf; name=\"cut.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
      base64.encodebytes(pdf)[:300])

depth = 300
write("deep_nesting.eml", HEAD + b"Subject: deep\r\nMIME-Version: 1.0\r\n" +
      b"".join(b"Content-Type: multipart/mixed; boundary=\"d%d\"\r\n\r\n--d%d\r\n" % (i, i) for i in range(depth)) +
      b"Content-Type: text/plain\r\n\r\nthe bottom\r\n" +
      b"".join(b"--d%d--\r\n" % i for i in reversed(range(depth))))

write("garbage.eml", b"\x00\xff\xfe garbage \x1b$B\x7f\x7f\x1b(B\r\n\r\n=?utf-8?B?!!!?= \xff\r\n")
write("no_body.eml", b"Subject: only a header\r\nFrom: a@b\r\n")
