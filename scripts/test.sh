#!/usr/bin/env bash
# Builds Kestrella and runs its whole test suite. With --sanitize: the same under
# AddressSanitizer and UndefinedBehaviorSanitizer, in a build folder of its own.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/tests
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRELLA_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
    build=build/sanitize
    options=(-DCMAKE_BUILD_TYPE=Debug -DKESTRELLA_WERROR=ON -DKESTRELLA_SANITIZE=ON -DKESTRELLA_BUILD_BENCH=OFF)
    export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

scripts/deps.sh test
cmake -S . -B "$build" -G Ninja "${options[@]}"
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
