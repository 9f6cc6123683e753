#!/usr/bin/env bash
# The demo command under Xvfb: Lumora starts on the demo folder, a real
# click on its receive button brings the demo mailbox in, a mail sent from
# it lands in the demo's spool, and ending Lumora stops the demo's servers.
#   demo_test.sh LUMORA_BINARY
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
binary=$1
source "$root/tests/support/demo_session.sh"
new_work
fail() { echo "FAIL: $*" >&2; exit 1; }

cat >"$work/inside.sh" <<'INSIDE'
set -euo pipefail
root=$1 binary=$2 work=$3
source "$root/tests/support/demo_session.sh"
start_demo
source "$root/tests/support/x_window.sh"
wid=$(window 'ルモラ Ver') || { cat "$work/demo.out" >&2; exit 1; }
sleep 1
# The receive button: the second picture button of the left column.
xdotool mousemove --window "$wid" 24 72 click 1
received=$work/demo/data/lumora/★MailData/krddata2.data
for _ in $(seq 1 150); do
    [[ -f $received ]] && (($(stat -c %s "$received") >= 4 * 32284)) && break
    sleep 0.2
done
# A mail link handed to the running Lumora fills the compose window; its
# send button (送信, bottom left) sends it to the demo's SMTP server.
(cd "$work/demo/data/lumora" && XDG_DATA_HOME=$work/demo/data "$binary" \
    'mailto:hanako@example.jp?subject=%E3%83%87%E3%83%A2&body=%E3%81%93%E3%82%93%E3%81%AB%E3%81%A1%E3%81%AF')
compose=$(window '新規作成')
sleep 1
xdotool mousemove --window "$compose" 60 478 click 1
for _ in $(seq 1 100); do
    [[ -f $work/demo/servers/spool/0001.eml ]] && break
    sleep 0.2
done
stop_demo || { echo "Lumora is not running" >&2; exit 1; }
INSIDE
# With a session bus of its own: without one, the accessibility bridge has
# the D-Bus library launch one through X, which forks a threaded process
# (and under the sanitizers that child can hang, and the window with it).
run_in_desktop "$work/inside.sh"

received=$work/demo/data/lumora/★MailData/krddata2.data
[[ -f $received ]] || fail "nothing was received"
size=$(stat -c %s "$received")
((size == 4 * 32284)) || fail "the received-mail file holds $size bytes, not four records"
python3 - "$received" <<'PY' || fail "the subjects are not the demo's"
import sys
data = open(sys.argv[1], "rb").read()
subjects = [data[i * 32284:i * 32284 + 100].decode("cp932").rstrip() for i in range(4)]
expected = ["打ち合わせ日程のご相談（①～③）", "今夜の件", "お見積書送付のご案内",
            "定例会議の議事録（長文）"]
if subjects != expected:
    print(subjects)
    sys.exit(1)
PY
ls "$work/demo/data/lumora/添付フォルダ/" | grep -q '見積書（12月）.csv' || fail "the attachment is not in the attachment folder"
# The servers were stopped when Lumora ended.
source "$work/demo/servers/servers.env"
if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', int(sys.argv[1])), 0.5)" \
    "$LUMORA_POP3_PORT" 2>/dev/null; then
    fail "the demo's POP3 server still listens"
fi
spooled=$(python3 "$root/tests/harness/read_spool.py" "$work/demo/servers/spool")
python3 - "$spooled" <<'PY' || fail "the sent mail is not in the demo's spool"
import json, sys
mails = json.loads(sys.argv[1])
assert len(mails) == 1, mails
assert mails[0]["subject"] == "デモ" and mails[0]["rcpt"] == ["hanako@example.jp"], mails[0]
assert mails[0]["body"].strip() == "こんにちは", mails[0]["body"]
PY
echo "demo: ok"
