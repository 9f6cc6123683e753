#!/usr/bin/env bash
# Installs what is missing, builds Lumora with warnings as errors, checks the
# formatting and runs every test (ctest starts and stops the test mail
# servers itself). With --asan, builds and runs under the address and
# undefined-behaviour sanitizers instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=dev
if [[ "${1:-}" == "--asan" ]]; then
    preset=asan
fi

bash "$root/scripts/setup.sh"

cd "$root"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    sources=$(git ls-files '*.cpp' '*.h')
else
    sources=$(find src tests tools bench -name '*.cpp' -o -name '*.h' 2>/dev/null)
fi
report=$(echo "$sources" | xargs clang-format --dry-run 2>&1 || true)
if grep -q 'warning:' <<<"$report"; then
    grep 'warning:' <<<"$report" | head -20
    echo "clang-format: the files above differ from .clang-format" >&2
    exit 1
fi

cmake --preset "$preset" >/dev/null
cmake --build "build/$preset"
ctest --preset "$preset" -j2
