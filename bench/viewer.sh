#!/usr/bin/env bash
# The viewer benchmark: builds lumora-viewer-bench in the release preset,
# generates received-mail files of 1000, 10000 and 32767 Japanese mails
# (kept in build/bench-viewer; 32767 mails are about 1.06 GB) and times the
# viewer on each. Deleting is timed on the 10000-mail file, against cp of
# the same file. Sizes can be given as arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target lumora-viewer-bench >/dev/null
sizes=("$@")
if ((${#sizes[@]} == 0)); then
    sizes=(1000 10000 32767)
fi
work=$root/build/bench-viewer
for n in "${sizes[@]}"; do
    folder=$work/$n
    mkdir -p "$folder/★MailData"
    if [[ ! -f $folder/mails-$n.data ]]; then
        /usr/bin/python3 "$root/bench/make_mail_file.py" "$folder/mails-$n.data" "$n"
    fi
    cp "$folder/mails-$n.data" "$folder/★MailData/krddata2.data"
    extra=()
    if [[ $n == 10000 ]]; then
        extra=(--delete)
    fi
    (cd "$folder" && "$root/build/release/bench/lumora-viewer-bench" "$folder" "${extra[@]}")
done
