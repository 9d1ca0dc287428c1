#!/usr/bin/env bash
# Builds and runs the transient-detection benchmark: renders the drum corpus with
# fluidsynth, scores Quillory and every `aubio onset` method on it, then times both on a
# ten-minute 48 kHz stereo file. Takes a few minutes.
#   scripts/bench-onset.sh                 full report
#   scripts/bench-onset.sh --quality-only  the corpus scores of Quillory alone
# QUILLORY_ONSET_CORPUS=DIR keeps the rendered files in DIR between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build --target bench_onset
exec build/bench/bench_onset "$@"
