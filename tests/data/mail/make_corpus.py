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


HQX = b"!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr"


def binhex(name, data, resource=b""):
    """A file in BinHex 4.0, as Mac mailers wrote it into mail."""
    import binascii
    import struct

    def crc(part):
        return struct.pack(">H", binascii.crc_hqx(part + b"\0\0", 0))

    header = (bytes([len(name)]) + name + b"\0" + b"TEXTttxt" + b"\0\0" +
              struct.pack(">II", len(data), len(resource)))
    raw = header + crc(header) + data + crc(data) + resource + crc(resource)
    raw = raw.replace(b"\x90", b"\x90\x00")  # the run marker, written as itself
    raw += b"\0" * (-len(raw) % 3)
    chars = bytearray()
    for i in range(0, len(raw), 3):
        n = int.from_bytes(raw[i:i + 3], "big")
        chars += bytes(HQX[(n >> shift) & 63] for shift in (18, 12, 6, 0))
    text = b":" + bytes(chars) + b":"
    lines = [text[i:i + 64] for i in range(0, len(text), 64)]
    return b"(This file must be converted with BinHex 4.0)\r\n\r\n" + b"\r\n".join(lines)


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

# Names and labels that RFC 2045, 2047 and 2231 call case-insensitive, in the
# cases real mailers write them.
write("mixed_case_labels.eml",
      b"From: =?UTf-8?b?" + base64.b64encode("山田".encode()) + b"?= <yamada@example.jp>\r\n"
      b"To: taro@example.jp\r\nSubject: =?uTF-8?q?=E4=BC=9A=E8=AD=B0?= =?Iso-2022-Jp?B?" +
      base64.b64encode(jis("のご案内")) + b"?=\r\n"
      b"MIME-Version: 1.0\r\nContent-Type: Multipart/Mixed; BOUNDARY=\"XyZ\"\r\n\r\n"
      b"--XyZ\r\nContent-Type: TEXT/PLAIN; CHARSeT=\"UTf-8\"\r\nContent-Transfer-Encoding: BASE64\r\n\r\n" +
      base64.encodebytes("会議のご案内です。\r\n".encode()) +
      b"--XyZ\r\nContent-Type: Application/Octet-Stream; NAME*=UTf-8''%E5%A0%B1%E5%91%8A.txt\r\n"
      b"Content-Disposition: ATTACHMENT; FileName*=UTF-8''%E5%A0%B1%E5%91%8A.txt\r\n"
      b"Content-Transfer-Encoding: Base64\r\n\r\n" + base64.encodebytes(b"report") + b"--XyZ--\r\n")

# A blank line (or white space) before the header block, as some gateways
# and mail archives leave it.
write("leading_blank_line.eml", b"\r\n   \r\n" + HEAD +
      b"Subject: " + b_word(jis("空行の後の件名"), "ISO-2022-JP") + b"\r\n"
      b"Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + jis_body("本文です。"))

# An HTML-only mail whose text is links: each link keeps its address.
write("html_links.eml", HEAD +
      b"Subject: links\r\nMIME-Version: 1.0\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" +
      ("<p>詳しくは<a href=\"https://example.jp/guide?a=1&amp;b=2\">こちらのページ</a>を"
       "ご覧ください。</p><p><A HREF='https://example.jp/same'>https://example.jp/same</A> "
       "<a href=\"mailto:info@example.jp\">お問い合わせ</a> <a name=\"top\">上へ</a> "
       "<a href=\"#top\">先頭</a> <a href=\"javascript:void(0)\">x</a></p>").encode("utf-8"))

# Attachments of Outlook's and Netscape's time: a name only in name=, a text
# file after the body with no disposition, a Mac file in AppleDouble and in
# BinHex, a name in a Content-Type split over lines.
binhex_data = b"Mac data fork\r\n" * 3
write("old_mailer_names.eml", HEAD +
      b"Subject: old\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n\tboundary=\"old\"\r\n\r\n"
      b"--old\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n\r\n" + jis_body("本文") + b"\r\n"
      b"--old\r\nContent-Type: application/octet-stream;\r\n\tname=\"" +
      b_word(jis("見積書"), "ISO-2022-JP") + b".xls\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
      base64.encodebytes(b"xls") +
      b"--old\r\nContent-Type: text/plain; name=\"readme.txt\"\r\n\r\nplain file\r\n"
      b"--old\r\nContent-Type: multipart/appledouble; boundary=\"ad\"\r\n\r\n"
      b"--ad\r\nContent-Type: application/applefile; name=\"photo.jpg\"\r\n"
      b"Content-Transfer-Encoding: base64\r\n\r\n" + base64.encodebytes(b"\x00\x05\x16\x07resource") +
      b"--ad\r\nContent-Type: image/jpeg; name=\"photo.jpg\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
      base64.encodebytes(b"\xff\xd8jpeg") + b"--ad--\r\n"
      b"--old\r\nContent-Type: application/mac-binhex40; name=\"notes.hqx\"\r\n\r\n" +
      binhex(b"notes.txt", binhex_data) + b"\r\n--old--\r\n")

# A BinHex file inside the text of a mail, as Eudora and early Outlook sent it.
write("binhex_inline.eml", HEAD + b"Subject: binhex\r\n\r\nThe file follows.\r\n\r\n" +
      binhex("予定表.txt".encode("cp932"), "来週の予定\r\n".encode("cp932")) + b"\r\nThanks.\r\n")

# The same labels on a mail of one part, in 8 bits and in quoted-printable.
write("mixed_case_single.eml", HEAD +
      b"Subject: single\r\nMime-Version: 1.0\r\nContent-Type: Text/Plain; CharSet=\"UTf-8\"; Format=Flowed\r\n"
      b"Content-Transfer-Encoding: 8Bit\r\n\r\n" + "八ビットの本文です。\r\n".encode())
write("mixed_case_qp.eml", HEAD +
      b"Subject: qp\r\nMIME-Version: 1.0\r\nContent-Type: text/plain;\r\n\tCHARSET=Shift_Jis\r\n"
      b"Content-Transfer-Encoding: Quoted-Printable\r\n\r\n" +
      quopri.encodestring("シフトJISの本文です。\r\n".encode("cp932")))
