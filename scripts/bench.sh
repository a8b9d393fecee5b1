#!/usr/bin/env bash
# Builds Kestrella in Release and prints every benchmark figure as a ratio to its floor.
#   scripts/bench.sh          1,000; 32,767; 100,000 and 1,000,000 records (takes a while)
#   scripts/bench.sh --quick  1,000 and 100,000 records
#   scripts/bench.sh --ci     as --quick, failing when a ratio is more than 1.5 times its target
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRELLA_BUILD_TESTS=OFF
cmake --build build/bench
python3 bench/report.py build/bench "${1:---full}"
