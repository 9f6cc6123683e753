#!/usr/bin/env bash
# Builds the Debian package build/package/lumora_VERSION_ARCH.deb from an
# optimised build, and checks it with lintian. Install it with
#   sudo apt install ./build/package/lumora_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/setup.sh"
build=$root/build/package
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DLUMORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target lumora lumora_package_files
rm -f "$build"/lumora_*.deb
(cd "$build" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build" >/dev/null)
rm -rf "$build/_CPack_Packages"
deb=$(ls "$build"/lumora_*.deb)
echo "Built $deb"
# Errors fail the build; warnings are printed.
lintian --fail-on error "$deb"
