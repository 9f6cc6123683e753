#!/usr/bin/env bash
# Redraws the pictures that come with the program into resources/art.
# Needs a build of the tools (cmake --build build/dev --target lumora-make-art)
# and ImageMagick for the two GIF lamps.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$root/build/dev/tools/lumora-make-art}
out=$root/resources/art
QT_QPA_PLATFORM=offscreen "$tool" "$out"
for lamp in Red Green; do
    convert-im6.q16 "$out/lamp/$lamp.png" "$out/lamp/$lamp.gif"
    rm "$out/lamp/$lamp.png"
done
echo "pictures written to $out"
