#!/usr/bin/env bash
# The desktop notice of new mail against Debian's dunst, under Xvfb with a
# session bus of its own: another window is in front while the demo's mail
# is received; dbus-monitor records the notice as sent, dunst shows it and
# activates it.
#   desktop_notice_test.sh LUMORA_BINARY
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
binary=$1
source "$root/tests/support/demo_session.sh"
new_work

cat >"$work/inside.sh" <<'INSIDE'
set -euo pipefail
root=$1 binary=$2 work=$3
source "$root/tests/support/demo_session.sh"
start_window_manager
dunst >"$work/dunst.out" 2>&1 &
notices=$!
dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
    >"$work/notify.log" 2>/dev/null &
monitor=$!
start_demo
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
stop_demo || true
kill "$other" "$monitor" "$notices" "$wm" 2>/dev/null || true
((status == 0)) || { cat "$work/demo.out" "$work/notify.log" >&2; exit "$status"; }
INSIDE
run_in_desktop "$work/inside.sh"
