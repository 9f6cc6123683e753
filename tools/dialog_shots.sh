#!/usr/bin/env bash
# Screenshots of two of the program's own question boxes under Xvfb, into
# docs/: the question whether to trust a server certificate that cannot be
# verified (docs/certificate.png: the receive button pressed against the test
# servers, whose CA Lumora does not know), and a Japanese question with Qt's
# buttons (docs/question.png: a second mailto: link handed to a running
# Lumora whose compose window holds the first).
#   dialog_shots.sh [LUMORA_BINARY]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:-$root/build/dev/src/lumora}
work=$(mktemp -d)
chmod 0755 "$work"
trap 'bash "$root/tests/harness/servers.sh" stop "$work/servers" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

bash "$root/tests/harness/servers.sh" start "$work/servers" >/dev/null
source "$work/servers/servers.env"
app=$work/data/lumora
mkdir -p "$app/★MailData"
printf 'SMTP=127.0.0.1:%s\r\nPOP3=127.0.0.1:%s\r\nMAIL=taro@example.jp\r\nAPOP=0\r\n' \
    "$LUMORA_SMTP_PORT" "$LUMORA_POP3_PORT" >"$app/kurodo.ini"
printf '[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\nNAME3=1\r\n' >"$app/★MailData/iniIdPass.ini"

cat >"$work/inside.sh" <<'INSIDE'
set -euo pipefail
binary=$1 app=$2 out=$3 root=$4
source "$root/tests/support/x_window.sh"
cd "$app"
"$binary" &
pid=$!
main=$(window 'ルモラ Ver')
sleep 1
xdotool mousemove --window "$main" 24 72 click 1
sleep 1.5
import -window "$(window '証明書の確認')" "$out/certificate.png"
# "接続しない", the box's bottom right button.
box=$(window '証明書の確認')
eval "$(xdotool getwindowgeometry --shell "$box")"
xdotool mousemove --window "$box" $((WIDTH - 50)) $((HEIGHT - 22)) click 1
sleep 0.5
"$binary" 'mailto:hanako@example.jp?subject=%E6%9D%A5%E9%80%B1%E3%81%AE%E4%BC%9A%E8%AD%B0&body=%E3%82%88%E3%82%8D%E3%81%97%E3%81%8F'
sleep 1
"$binary" 'mailto:suzuki@example.jp?subject=%E5%88%A5%E3%81%AE%E4%BB%B6' &
sleep 1.5
import -window "$(window '^確認$')" "$out/question.png"
kill -TERM "$pid"
wait "$pid" || true
INSIDE
XDG_DATA_HOME=$work/data xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
    bash "$work/inside.sh" "$binary" "$app" "$root/docs" "$root"
echo "screenshots: docs/certificate.png docs/question.png"
