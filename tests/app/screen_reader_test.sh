#!/usr/bin/env bash
# Lumora through the desktop's accessibility interface, as a screen reader
# uses it: under Xvfb with a session bus of its own and the accessibility
# bus and a window manager, the demo runs and screen_reader.py drives it with
# no mouse at all.
#   screen_reader_test.sh LUMORA_BINARY
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
binary=$1
work=$(mktemp -d)
chmod 0755 "$work" # Dovecot's own users reach the demo servers' files inside
trap 'pkill -KILL -P $$ 2>/dev/null || true; rm -rf "$work"' EXIT

cat >"$work/inside.sh" <<'INSIDE'
set -euo pipefail
root=$1 binary=$2 work=$3
# Qt speaks to the accessibility bus whether or not a screen reader runs.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# A window manager gives a new window the focus and gives it back to the
# window under a closed question box, as on a desktop.
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
LUMORA_DEMO_DIR=$work/demo bash "$root/scripts/demo.sh" "$binary" >"$work/demo.out" 2>&1 &
demo=$!
status=0
/usr/bin/python3 "$root/tests/app/screen_reader.py" "$work/demo" || status=$?
pid=$(pgrep -x -P "$demo" lumora || true) # this test's own demo
[[ -n $pid ]] && kill -TERM "$pid"
wait "$demo" || true
kill "$wm" 2>/dev/null || true
((status == 0)) || { cat "$work/demo.out" >&2; exit "$status"; }
INSIDE
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
    dbus-run-session -- bash "$work/inside.sh" "$root" "$binary" "$work" 2> >(grep -v "fd limit" >&2)
