# Sourced by the tests that run the demo under Xvfb. Outside the X session:
# new_work makes the test's folder (removed at the end) and
# run_in_desktop runs a script in an X session with a session bus of its
# own. Inside it (with root, binary and work set): start_demo and stop_demo
# start the demo and end this test's own Lumora; start_window_manager gives
# windows the focus as a desktop does.

new_work() {
    work=$(mktemp -d)
    chmod 0755 "$work" # Dovecot's own users reach the demo servers' files inside
    trap 'pkill -KILL -P $$ 2>/dev/null || true; rm -rf "$work"' EXIT
}

run_in_desktop() {
    PYTHONPATH=$root/tests/app xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
        dbus-run-session -- bash "$1" "$root" "$binary" "$work" 2> >(grep -v "fd limit" >&2)
}

start_demo() {
    LUMORA_DEMO_DIR=$work/demo bash "$root/scripts/demo.sh" "$binary" >"$work/demo.out" 2>&1 &
    demo=$!
}

# Ends the Lumora of this test's demo (others may run beside it); false
# when it was not running.
stop_demo() {
    local pid
    pid=$(pgrep -x -P "$demo" lumora || true)
    [[ -n $pid ]] && kill -TERM "$pid"
    wait "$demo" || true
    [[ -n $pid ]]
}

start_window_manager() {
    # Qt speaks to the accessibility bus whether or not a screen reader runs.
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    openbox --sm-disable >/dev/null 2>&1 &
    wm=$!
}
