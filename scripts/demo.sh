#!/usr/bin/env bash
# Shows Lumora at work with no account anywhere: starts the project's own
# Dovecot and SMTP servers on loopback with a Japanese mailbox, makes a
# throw-away application folder with the account filled in (and the demo
# servers' certificate trusted), and runs Lumora on it. Closing Lumora stops
# the servers and removes the folder.
#
#   demo.sh LUMORA_BINARY
#
# LUMORA_DEMO_DIR=DIR uses DIR instead of a temporary folder and keeps it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=$(realpath "$1")

if [[ -n "${LUMORA_DEMO_DIR:-}" ]]; then
    demo=$LUMORA_DEMO_DIR
    keep=1
    mkdir -p "$demo"
else
    demo=$(mktemp -d /tmp/lumora-demo.XXXXXX)
    # Dovecot's own users must reach the servers' files inside.
    chmod 0755 "$demo"
    keep=0
fi
demo=$(cd "$demo" && pwd)
servers=$demo/servers
cleanup() {
    bash "$root/tests/harness/servers.sh" stop "$servers" >/dev/null 2>&1 || true
    if ((!keep)); then
        rm -rf "$demo"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bash "$root/tests/harness/servers.sh" start "$servers" >/dev/null
# shellcheck source=/dev/null
source "$servers/servers.env"
/usr/bin/python3 "$root/scripts/demo_mailbox.py" "$servers/servers.env" >/dev/null

app=$demo/data/lumora
data=$app/★MailData
mkdir -p "$data"
printf 'SMTP=127.0.0.1:%s\r\nPOP3=127.0.0.1:%s\r\nMAIL=taro@example.jp\r\nAPOP=0\r\n' \
    "$LUMORA_SMTP_PORT" "$LUMORA_POP3_PORT" >"$app/kurodo.ini"
printf '[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\nNAME3=1\r\n' >"$data/iniIdPass.ini"
chmod 600 "$data/iniIdPass.ini"
# The demo servers' certificate is signed by a CA made for them alone: it is
# trusted for these two servers as a user would trust it in the question box.
fingerprint=$(openssl x509 -noout -fingerprint -sha256 -in "$servers/tls/server.crt" | cut -d= -f2)
printf '127.0.0.1 %s %s\r\n127.0.0.1 %s %s\r\n' "$LUMORA_POP3_PORT" "$fingerprint" \
    "$LUMORA_SMTP_PORT" "$fingerprint" >"$data/trusted-servers.txt"
chmod 600 "$data/trusted-servers.txt"

cat <<TEXT
Lumora demo
  mailbox:  4 Japanese mails for taro on POP3 127.0.0.1:$LUMORA_POP3_PORT (press 受信)
  sending:  SMTP 127.0.0.1:$LUMORA_SMTP_PORT, every sent mail lands in $LUMORA_SMTP_SPOOL
  folder:   $app
Closing Lumora stops the servers.
TEXT
cd "$app"
status=0
XDG_DATA_HOME=$demo/data "$binary" || status=$?
exit "$status"
