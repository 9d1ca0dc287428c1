#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh            normal build in build/
#   scripts/test.sh --sanitize AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=build
EXTRA=()
if [ "${1:-}" = "--sanitize" ]; then
  BUILD=build-asan
  EXTRA=(-DQUILLORY_SANITIZE=ON -DQUILLORY_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
cmake -S . -B "$BUILD" -G Ninja "${EXTRA[@]}"
cmake --build "$BUILD" -j "$(nproc)"
cd "$BUILD"
xvfb-run -a -s "-screen 0 1600x1000x24" ctest --output-on-failure -j 2
