#!/usr/bin/env bash
# Screenshots under Xvfb, into docs/: the window of a long Japanese mail's
# original (docs/original.png), the viewer showing that mail, whose status
# bar points to it (docs/original-note.png), and the viewer importing an mbox of 1000 mails with
# its progress box (docs/importing.png).
#   original_shots.sh [BUILD_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
cmake --build "$build" --target lumora-window-shot lumora-import >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A long Japanese mail with characters the record cannot hold.
/usr/bin/python3 - "$work/mails" <<'PY'
import os, sys
from email.message import EmailMessage
out = sys.argv[1]
os.makedirs(out)
m = EmailMessage()
m["From"] = "佐藤 花子 <hanako@example.jp>"
m["To"] = "山田 太郎 <taro@example.jp>"
m["Cc"] = "鈴木 一郎 <ichiro@example.jp>"
m["Subject"] = "忘年会のご案内と会場の地図 🍶🎍"
m["Date"] = "Tue, 08 Dec 2026 18:30:00 +0900"
m["Message-ID"] = "<bonenkai.2026@example.jp>"
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
with open(os.path.join(out, "01.eml"), "wb") as f:
    f.write(bytes(m))
PY
app=$work/app
mkdir -p "$app/★MailData"
"$build/bench/lumora-import" "$app" "$work/mails" >/dev/null
# 1000 mails of the receive benchmark's mix, as an mbox.
/usr/bin/python3 "$root/bench/make_mailbox.py" "$work/box" 1000 >/dev/null
/usr/bin/python3 - "$work/box" "$work/box.mbox" <<'PY'
import os, sys
with open(sys.argv[2], "wb") as out:
    for name in sorted(os.listdir(sys.argv[1])):
        data = open(os.path.join(sys.argv[1], name), "rb").read().replace(b"\r\n", b"\n")
        out.write(b"From MAILER-DAEMON Thu Jan  1 00:00:00 2026\n")
        for line in data.rstrip(b"\n").split(b"\n"):
            out.write((b">" if line.lstrip(b">").startswith(b"From ") else b"") + line + b"\n")
        out.write(b"\n")
PY
shot=$build/tools/lumora-window-shot
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash -c "
    '$shot' original '$root/docs/original.png' '$app' 1 &&
    '$shot' viewer '$root/docs/original-note.png' '$app' 1 &&
    '$shot' importing '$root/docs/importing.png' '$app' '$work/box.mbox'"
echo "screenshots: docs/original.png docs/original-note.png docs/importing.png"
