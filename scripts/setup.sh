#!/usr/bin/env bash
# Installs what Lumora needs to build, run and test, from Debian's packages,
# and any further packages named on the command line (the benchmark's peers).
# Installs only what is missing; runs apt-get through sudo when not root.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config qt6-base-dev libgmime-3.0-dev
    libssl-dev libsqlite3-dev libicu-dev libgtest-dev clang-format
    # tests: mail servers, a display for screenshots, a Japanese font
    dovecot-core dovecot-pop3d python3-aiosmtpd postfix openssl procps
    xvfb xauth xdotool imagemagick fonts-ipafont-gothic
    # the screen-reader test: a session bus, the accessibility bus, AT-SPI
    # and a window manager that moves the focus between windows; a
    # notification server for the desktop notice
    dbus at-spi2-core python3-pyatspi openbox dunst
    # Qt's own buttons and dialogs in Japanese
    qt6-translations-l10n
    # toolbar icons
    tango-icon-theme
    # the desktop entry, the AppStream data and the Debian package
    desktop-file-utils appstream dpkg-dev lintian
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

sudo=()
if [[ $(id -u) != 0 ]]; then
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
