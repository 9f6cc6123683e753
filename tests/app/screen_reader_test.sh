#!/usr/bin/env bash
# Lumora through the desktop's accessibility interface, as a screen reader
# uses it: under Xvfb with a session bus of its own, the accessibility bus
# and a window manager, the demo runs and screen_reader.py drives it with
# no mouse at all.
#   screen_reader_test.sh LUMORA_BINARY
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
binary=$1
source "$root/tests/support/demo_session.sh"
new_work

cat >"$work/inside.sh" <<'INSIDE'
set -euo pipefail
root=$1 binary=$2 work=$3
source "$root/tests/support/demo_session.sh"
# The window manager gives a new window the focus and gives it back to the
# window under a closed question box, as on a desktop.
start_window_manager
start_demo
status=0
/usr/bin/python3 "$root/tests/app/screen_reader.py" "$work/demo" || status=$?
stop_demo || true
kill "$wm" 2>/dev/null || true
((status == 0)) || { cat "$work/demo.out" >&2; exit "$status"; }
INSIDE
run_in_desktop "$work/inside.sh"
