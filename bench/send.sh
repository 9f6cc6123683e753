#!/usr/bin/env bash
# The send benchmark: installs the peer (msmtp) when missing, builds
# lumora-send in the release preset and runs send_bench.py. Extra arguments
# go to send_bench.py (--mails, --delay-ms, --repeat, --baseline OTHER_LUMORA_SEND).
# The harness starts its private Postfix for the rounds that pipeline, which
# needs root.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh" msmtp
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target lumora-send >/dev/null
/usr/bin/python3 "$root/bench/send_bench.py" "$root/build/release/bench/lumora-send" "$@"
