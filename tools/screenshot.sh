#!/usr/bin/env bash
# Takes a screenshot of the main window under Xvfb into the file given
# (default docs/main-window.png), in a throw-away home with a complete
# account, so that no dialog covers it. BUTTON_SET=1|2|3 picks a button set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/main-window.png}
binary=${LUMORA_BINARY:-$root/build/dev/src/lumora}
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
data=$home/data/lumora/★MailData
mkdir -p "$data"
printf 'SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=taro@example.jp\r\nAPOP=0\r\n' > "$home/kurodo.ini"
printf '[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\n' > "$data/iniIdPass.ini"
printf '[EXEINI]\r\nNUMBER=1\r\nNUMBER5=%s\r\n' "${BUTTON_SET:-0}" > "$data/ini.ini"
cd "$home"
HOME=$home XDG_DATA_HOME=$home/data xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" bash -c "
    '$binary' & pid=\$!
    sleep 2
    import -window root -crop ${CROP:-316x188+0+0} '$out'
    kill -TERM \$pid; wait \$pid"
echo "screenshot: $out"
