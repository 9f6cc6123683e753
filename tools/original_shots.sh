#!/usr/bin/env bash
# Screenshots under Xvfb, into docs/: the window of a long Japanese mail's
# original (docs/original.png), the viewer showing that mail, whose status
# bar points to it (docs/original-note.png), and the viewer importing an mbox of 1000 mails with
# its progress box (docs/importing.png).
#   original_shots.sh [BUILD_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
cmake --build "$build" --target lumora-window-shot lumora-import >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A long Japanese mail with characters the record cannot hold.
/usr/bin/python3 "$root/tests/harness/mail_samples.py" letter "$work/mails"
app=$work/app
mkdir -p "$app/★MailData"
"$build/bench/lumora-import" "$app" "$work/mails" >/dev/null
# 1000 mails of the receive benchmark's mix, as an mbox.
/usr/bin/python3 "$root/bench/make_mailbox.py" "$work/box" 1000 >/dev/null
/usr/bin/python3 -c "import sys; sys.path.insert(0, sys.argv[1]); import mailkit; mailkit.write_mboxrd(sys.argv[2], sys.argv[3])" \
    "$root/tests/harness" "$work/box" "$work/box.mbox"
shot=$build/tools/lumora-window-shot
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash -c "
    '$shot' original '$root/docs/original.png' '$app' 1 &&
    '$shot' viewer '$root/docs/original-note.png' '$app' 1 &&
    '$shot' importing '$root/docs/importing.png' '$app' '$work/box.mbox'"
echo "screenshots: docs/original.png docs/original-note.png docs/importing.png"
