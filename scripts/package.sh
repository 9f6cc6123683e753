#!/usr/bin/env bash
# Builds the Debian package build/package/lumora_VERSION_ARCH.deb from an
# optimised build, and checks it with lintian. Install it with
#   sudo apt install ./build/package/lumora_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/setup.sh"
build=$root/build/package
# Debian's hardening flags (stack protector, fortified functions, full RELRO,
# position-independent executable).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DLUMORA_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" --target lumora lumora_package_files
rm -f "$build"/lumora_*.deb
(cd "$build" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build" >/dev/null)
rm -rf "$build/_CPack_Packages"
deb=$(ls "$build"/lumora_*.deb)
echo "Built $deb"
# Errors fail the build; warnings are printed.
lintian --fail-on error "$deb"
