#!/usr/bin/env bash
# Screenshots under Xvfb of the keyboard focus moving through each window
# (Tab, and Ctrl+Tab out of a mail body), three steps a window side by side,
# into docs/focus-WINDOW.png; the focused control's name is printed for each.
#   focus_shots.sh [BUILD_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
cmake --build "$build" --target lumora-window-shot lumora-import >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 "$root/tests/harness/mail_samples.py" letter "$work/mails"
app=$work/app
mkdir -p "$app/★MailData"
"$build/bench/lumora-import" "$app" "$work/mails" >/dev/null
shot=$build/tools/lumora-window-shot
declare -A steps=([main]="1 4 10" [viewer]="2 7 11" [compose]="1 9 17" [reply]="3 6 9"
    [addressbook]="1 5 9" [emoticons]="0 1 3")
for window in main viewer compose reply addressbook emoticons; do
    files=()
    for n in ${steps[$window]}; do
        name=$(LUMORA_SHOT_TABS=$n xvfb-run -a -s "-screen 0 1280x900x24 -dpi 96" \
            "$shot" "$window" "$work/$window-$n.png" "$app" | tail -1)
        echo "$window, Tab x$n: $name"
        files+=("$work/$window-$n.png")
    done
    convert "${files[@]}" -bordercolor white -border 6 +append "$root/docs/focus-$window.png"
done
echo "screenshots: docs/focus-*.png"
