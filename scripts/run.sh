#!/usr/bin/env bash
# Builds Kestrella, installs it into its application folder and starts it from there.
# The application folder (default ~/Kestrella, or $KESTRELLA_HOME) holds the data file, so
# cleaning or rebuilding the source tree never touches it.
set -euo pipefail
cd "$(dirname "$0")/.."
app_folder="${KESTRELLA_HOME:-$HOME/Kestrella}"

scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRELLA_BUILD_TESTS=OFF -DKESTRELLA_BUILD_BENCH=OFF
cmake --build build/release --target kestrella
cmake --install build/release --prefix "$app_folder"
exec "$app_folder/kestrella"
