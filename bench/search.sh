#!/usr/bin/env bash
# The search benchmark: builds lumora-search-bench in the release preset,
# makes an application folder of generated Japanese mails with their
# originals (32767 unless a count is given; kept in build/bench-search) by
# importing an mbox, and times the search across every mail on it: the index
# made from nothing, each query against a scan of every original, and the
# index's size; then 1000 new mails stored with the index kept in step
# against the same without an index, imported and received.
#   search.sh [COUNT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target lumora-search-bench lumora-import >/dev/null
count=${1:-32767}
work=$root/build/bench-search
folder=$work/$count
if [[ ! -f $folder/★MailData/krddata2.data ]]; then
    mkdir -p "$folder/★MailData"
    /usr/bin/python3 "$root/bench/make_search_mbox.py" "$work/mails-$count.mbox" "$count"
    "$root/build/release/bench/lumora-import" "$folder" "$work/mails-$count.mbox"
    rm -f "$work/mails-$count.mbox"
fi
QT_QPA_PLATFORM=offscreen "$root/build/release/bench/lumora-search-bench" "$folder"
# 1000 new mails stored with the index kept in step and without an index,
# on a folder of 1000 (what a new mail costs the index hardly depends on how
# many are indexed; 32767 leave no room for more).
small=$work/follow
rm -rf "$small" "$small"-with "$small"-without && mkdir -p "$small/★MailData"
/usr/bin/python3 "$root/bench/make_search_mbox.py" "$work/base-1000.mbox" 1000 --seed 3
/usr/bin/python3 "$root/bench/make_search_mbox.py" "$work/new-1000.mbox" 1000 --seed 2
"$root/build/release/bench/lumora-import" "$small" "$work/base-1000.mbox" >/dev/null
echo
QT_QPA_PLATFORM=offscreen "$root/build/release/bench/lumora-search-bench" "$small" \
    "$work/new-1000.mbox" | tail -1
# A receive of 1000 mails from the harness Dovecot, with the index kept in
# step and without one.
echo
cmake --build --preset release --target lumora-receive >/dev/null
/usr/bin/python3 "$root/bench/search_receive.py" "$root/build/release/bench/lumora-receive"
