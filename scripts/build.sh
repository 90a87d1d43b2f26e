#!/usr/bin/env bash
# Configures and builds Varnex into build/ (or the folder given as $1, with
# further cmake options after it). VARNEX_BUILD_JOBS sets the parallel jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j"${VARNEX_BUILD_JOBS:-$(nproc)}"
