#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh            normal build in build/
#   scripts/test.sh --sanitize AddressSanitizer + UBSan build in build-asan/
#   scripts/test.sh --tsan     ThreadSanitizer build in build-tsan/ of the test programs
#                              without widgets (model, audio, edit, engine, tempo, persist, onset, onsetservice)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=build
EXTRA=()
TARGETS=()
TESTS=()
case "${1:-}" in
  --sanitize)
    BUILD=build-asan
    EXTRA=(-DQUILLORY_SANITIZE=ON -DQUILLORY_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ;;
  --tsan|--tsan-all)
    # --tsan-all is the former name, from when audio and engine were left out.
    BUILD=build-tsan
    EXTRA=(-DQUILLORY_TSAN=ON -DQUILLORY_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo)
    SUBSYSTEMS=(model audio edit engine tempo persist onset onsetservice)
    for s in "${SUBSYSTEMS[@]}"; do TARGETS+=(--target "test_$s"); done
    TESTS=(-R "^($(IFS='|'; echo "${SUBSYSTEMS[*]}"))\$")
    # Every report fails the run (exit code 66) after the whole program has run. Qt is not
    # instrumented: what its code hands between threads through its own event queue is
    # invisible to the sanitizer, so calls from it into the sanitizer's interceptors
    # (malloc, free, memmove) are not counted as accesses.
    export TSAN_OPTIONS="suppressions=$PWD/tests/common/tsan/suppressions.txt:second_deadlock_stack=1:history_size=4:ignore_noninstrumented_modules=1"
    ;;
esac
cmake -S . -B "$BUILD" -G Ninja "${EXTRA[@]}"
cmake --build "$BUILD" -j "$(nproc)" "${TARGETS[@]}"
cd "$BUILD"
xvfb-run -a -s "-screen 0 1600x1000x24" ctest --output-on-failure -j 2 "${TESTS[@]}"
