#!/usr/bin/env bash
# The hostile-mail check: builds lumora-decode in the release preset and
# runs hostile.py, which decodes each generated hostile mail in its own
# process at three scales against the limits of 2 s and 200 MB a mail.
# Extra arguments go to hostile.py (--scales).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target lumora-decode >/dev/null
/usr/bin/python3 "$root/bench/hostile.py" "$root/build/release/bench/lumora-decode" "$@"
