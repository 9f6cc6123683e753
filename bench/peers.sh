#!/usr/bin/env bash
# The desktop-peer benchmark: installs Claws Mail and Sylpheed (and the X
# tools it needs) when missing, builds Lumora and lumora-receive in the
# release preset and runs peers.py under its own Xvfb. Extra arguments go to
# peers.py (--mails, --repeat, --rss-rounds).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh" claws-mail sylpheed python3-xlib curl
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target lumora lumora-receive >/dev/null
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    /usr/bin/python3 "$root/bench/peers.py" "$root/build/release/src/lumora" \
    "$root/build/release/bench/lumora-receive" "$@"
