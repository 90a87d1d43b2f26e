#!/usr/bin/env bash
# Runs the tests of the burn pipeline (ring buffer, producer and writer
# threads, several recorders at once, stops) under ThreadSanitizer, in a
# build folder of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-tsan}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build "$dir" -j2 --target varnex_tests varnex-cli
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  "$dir/bin/varnex_tests" --gtest_filter='BufManaEx.*:BurnMana.*:RecorderCommands.*:VirtualBurn.*'
echo "tsan-burn.sh: the burn pipeline passed under ThreadSanitizer"
