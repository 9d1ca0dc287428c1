#!/usr/bin/env bash
# Installs what is missing, builds and launches Quillory. An audio file may follow.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build -j "$(nproc)" --target quillory
exec build/src/quillory "$@"
