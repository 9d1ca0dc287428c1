#!/usr/bin/env bash
# Builds the Debian package and checks it with lintian. Prints the package's path.
#   scripts/package.sh        build-package/quillory_VERSION_ARCH.deb
# Install it with: apt install ./build-package/quillory_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=build-package
cmake -S . -B "$BUILD" -G Ninja -DQUILLORY_BUILD_TESTS=OFF -DQUILLORY_BUILD_BENCH=OFF
cmake --build "$BUILD" -j "$(nproc)"
rm -f "$BUILD"/quillory_*.deb
(cd "$BUILD" && cpack -G DEB)
deb=$(ls "$BUILD"/quillory_*.deb)
# Errors fail the script; warnings and notes are shown.
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "$deb"
