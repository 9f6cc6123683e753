#!/usr/bin/env bash
# Installs the build into a throw-away prefix and packages it as a Debian
# package: the files a desktop needs are where Debian puts them, the desktop
# entry and the AppStream data pass their validators, and the package's
# dependencies were read off the libraries the program links.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
id=jp.lumora.Lumora
for f in bin/lumora share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/icons/hicolor/48x48/apps/$id.png share/icons/hicolor/128x128/apps/$id.png \
    share/icons/hicolor/scalable/apps/$id.svg share/man/man1/lumora.1.gz \
    share/doc/lumora/copyright share/doc/lumora/changelog.Debian.gz; do
    [[ -f $prefix/$f ]] || fail "$f is not installed"
done
[[ -x $prefix/bin/lumora ]] || fail "bin/lumora is not executable"

# The icons are the sizes their folders name.
for size in 48 128; do
    got=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print(*struct.unpack(">II", d[16:24]))' \
        "$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png")
    [[ $got == "$size $size" ]] || fail "the ${size}px icon is $got"
done

desktop=$prefix/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx 'MimeType=x-scheme-handler/mailto;' "$desktop" || fail "no mailto handler"
grep -qx 'Exec=lumora %u' "$desktop" || fail "Exec does not pass the link"
grep -qx 'Name=ルモラ' "$desktop" || fail "Name"
grep -q '^Comment\[ja\]=' "$desktop" || fail "no Japanese comment"
grep -qx 'Categories=Network;Email;' "$desktop" || fail "Categories"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >"$work/as.log" 2>&1 ||
    { cat "$work/as.log"; fail "appstreamcli validate"; }
grep -q 'xml:lang="ja"' "$prefix/share/metainfo/$id.metainfo.xml" || fail "no Japanese description"

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/lumora_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6dbus6 libqt6printsupport6 libgmime-3.0-0 libssl3 \
    qt6-qpa-plugins qt6-translations-l10n; do
    grep -qE "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
contents=$(dpkg-deb -c "$deb")
grep -q ' ./usr/bin/lumora$' <<<"$contents" || fail "the package does not hold /usr/bin/lumora"
grep -q " ./usr/share/applications/$id.desktop$" <<<"$contents" || fail "no desktop entry in the package"
lintian --fail-on error "$deb" || fail "lintian reports errors"
echo "install tree and package: ok"
