#!/usr/bin/env bash
# The receive benchmark: installs the peers (fetchmail, getmail6, curl) when
# missing, builds lumora-receive in the release preset and runs bench.py.
# Extra arguments go to bench.py (--mails, --delayed-mails, --delay-ms).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh" fetchmail getmail6 curl
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target lumora-receive lumora-import >/dev/null
/usr/bin/python3 "$root/bench/bench.py" "$root/build/release/bench/lumora-receive" "$@"
