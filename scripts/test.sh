#!/usr/bin/env bash
# Installs what is missing, builds Varnex and runs every test: once in a
# normal build, once with AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   scripts/test.sh --repeat N [BUILDDIR]
#       builds BUILDDIR (build/ by default) and runs the tests that involve
#       threads N times over, stopping at the first failure: the burn
#       pipeline, the command layer, the virtual recorders, disc copy, the
#       converter, the hand-over and the windows.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ ${1:-} == --repeat ]]; then
  count=${2:-}
  if ! [[ $count =~ ^[1-9][0-9]*$ ]]; then
    echo "test.sh: --repeat needs a positive count" >&2
    exit 2
  fi
  dir=${3:-build}
  scripts/install-deps.sh
  [[ -f $dir/CMakeCache.txt ]] || scripts/build.sh "$dir"
  cmake --build "$dir" -j"${VARNEX_BUILD_JOBS:-$(nproc)}" --target varnex_tests varnex_window_tests
  threaded='BurnMana.*:BufManaEx.*:RecorderCommands.*:FaultResults.*:DriveInUse.*:KestrineCommands.*:VirtualBurn.*:CliBurn.*'\
':DiscCopy.*:CliCopy.*:PollardCopy.*:ConverterRun.*:ToolProcesses.*:CliAudio.*:AudioProjectBurn.*:VarnexShell.*:HandOverPeer.*'
  "$dir/bin/varnex_tests" --gtest_filter="$threaded" --gtest_repeat="$count" --gtest_break_on_failure \
    --gtest_brief=1
  for ((i = 1; i <= count; ++i)); do
    if ! QT_QPA_PLATFORM=offscreen VARNEX_PROGRAM_DIR="$PWD/$dir/bin/" "$dir/bin/varnex_window_tests" \
      -silent >"$dir/window-repeat.log" 2>&1; then
      cat "$dir/window-repeat.log"
      echo "test.sh: the window tests failed in run $i of $count" >&2
      exit 1
    fi
  done
  echo "test.sh: the threaded tests passed $count times"
  exit 0
fi

scripts/install-deps.sh
scripts/build.sh build
(cd build && ctest --output-on-failure -j"$(nproc)")
scripts/build.sh build-asan -DVARNEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ctest --output-on-failure -j"$(nproc)")
echo "test.sh: all tests passed"
