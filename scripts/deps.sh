#!/usr/bin/env bash
# Installs the Debian packages Kestrella needs, when any is missing: those to build and run it, and
# with "test" also those its test suite drives it with (a virtual X server, the accessibility bus,
# pointer events, the desktop-file and AppStream checkers).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libgl-dev libsqlite3-dev libglib2.0-dev libbenchmark-dev mdbtools-dev
    fonts-liberation shared-mime-info
)
if [ "${1:-}" = "test" ]; then
    packages+=(
        xvfb xauth xdotool x11-utils imagemagick
        dbus dbus-x11 at-spi2-core python3-gi python3-pyatspi
        desktop-file-utils appstream
    )
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
