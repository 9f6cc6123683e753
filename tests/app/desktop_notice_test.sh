#!/usr/bin/env bash
# The desktop notice of new mail against Debian's dunst, under Xvfb with a
# session bus of its own: another window is in front while the demo's mail
# is received; dbus-monitor records the notice as sent, dunst shows it and
# activates it.
#   desktop_notice_test.sh LUMORA_BINARY
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
binary=$1
work=$(mktemp -d)
chmod 0755 "$work" # Dovecot's own users reach the demo servers' files inside
trap 'pkill -KILL -P $$ 2>/dev/null || true; rm -rf "$work"' EXIT

cat >"$work/inside.sh" <<'INSIDE'
set -euo pipefail
root=$1 binary=$2 work=$3
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
dunst >"$work/dunst.out" 2>&1 &
notices=$!
dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
    >"$work/notify.log" 2>/dev/null &
monitor=$!
LUMORA_DEMO_DIR=$work/demo bash "$root/scripts/demo.sh" "$binary" >"$work/demo.out" 2>&1 &
demo=$!
source "$root/tests/support/x_window.sh"
window 'ルモラ Ver' >/dev/null
# Another program's window takes the focus, as when the user works elsewhere.
convert -size 200x100 xc:white "$work/other.png"
display -title other "$work/other.png" &
other=$!
window '^other' >/dev/null
sleep 0.5
status=0
/usr/bin/python3 "$root/tests/app/desktop_notice.py" "$work/demo" "$work/notify.log" || status=$?
pid=$(pgrep -x -P "$demo" lumora || true) # this test's own demo
[[ -n $pid ]] && kill -TERM "$pid"
wait "$demo" || true
kill "$other" "$monitor" "$notices" "$wm" 2>/dev/null || true
((status == 0)) || { cat "$work/demo.out" "$work/notify.log" >&2; exit "$status"; }
INSIDE
PYTHONPATH=$root/tests/app xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
    dbus-run-session -- bash "$work/inside.sh" "$root" "$binary" "$work" 2> >(grep -v "fd limit" >&2)
