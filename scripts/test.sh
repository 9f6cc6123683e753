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
unformatted=$(git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run 2>&1 | grep -c 'warning:' || true)
if [[ "$unformatted" != 0 ]]; then
    git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run 2>&1 | head -20
    echo "clang-format: $unformatted places differ from .clang-format" >&2
    exit 1
fi

cmake --preset "$preset" >/dev/null
cmake --build "build/$preset"
ctest --preset "$preset" -j2
