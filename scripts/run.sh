#!/usr/bin/env bash
# Installs what is missing, builds Lumora and starts it. With --demo, starts
# it on a demo mailbox served by the project's own mail servers instead
# (scripts/demo.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
demo=0
if [[ "${1:-}" == "--demo" ]]; then
    demo=1
fi

bash "$root/scripts/setup.sh"
cmake --preset release -S "$root" >/dev/null
cmake --build "$root/build/release" --target lumora

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display: start Lumora from a desktop session, or under xvfb-run." >&2
    exit 1
fi

if ((demo)); then
    exec bash "$root/scripts/demo.sh" "$root/build/release/src/lumora"
fi

# The server settings (kurodo.ini) live in the folder Lumora starts in: keep
# them with the rest of the user's mail data.
app_folder=${XDG_DATA_HOME:-$HOME/.local/share}/lumora
mkdir -p "$app_folder"
cd "$app_folder"
exec "$root/build/release/src/lumora"
