#!/usr/bin/env bash
# Installs what is missing, builds Varnex and runs every test: once in a
# normal build, once with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
(cd build && ctest --output-on-failure -j"$(nproc)")
scripts/build.sh build-asan -DVARNEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ctest --output-on-failure -j"$(nproc)")
echo "test.sh: all tests passed"
