#!/usr/bin/env bash
# Builds Kestrella, installs it into its application folder and starts it from there.
# The application folder (default ~/Kestrella, or $KESTRELLA_HOME) holds the data file, so
# cleaning or rebuilding the source tree never touches it. The menu entry, icons and AppStream
# description go into the user's data folder (~/.local/share, or $XDG_DATA_HOME), pointing at the
# executable in the application folder.
set -euo pipefail
# Absolute before moving to the source tree: a relative folder means one relative to where the user is.
app_folder="$(realpath -m -- "${KESTRELLA_HOME:-$HOME/Kestrella}")"
data_home="$(realpath -m -- "${XDG_DATA_HOME:-$HOME/.local/share}")"
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRELLA_BUILD_TESTS=OFF \
    -DKESTRELLA_BUILD_BENCH=OFF -DKESTRELLA_DESKTOP_DATADIR="$data_home"
cmake --build build/release --target kestrella
cmake --install build/release --prefix "$app_folder"
exec "$app_folder/kestrella"
