#!/usr/bin/env bash
# The desktop program's start: from the process's start to the first paint of
# the main window, and to its recorder list being filled, next to an empty Qt
# window of the same size (the least any window costs to reach the screen).
# Both are timed by the programs themselves from the kernel's start time of
# the process (VARNEX_START_REPORT=quit), on an X server with a window
# manager: the one of $DISPLAY, else a private Xvfb with openbox, else the
# offscreen platform (said in the output). Five runs each, the medians.
# Usage: bench/window_start.sh [BUILDDIR] [RUNS]   (needs -DVARNEX_BENCH=ON)
set -euo pipefail
build=$(readlink -f "${1:-build}")
runs=${2:-5}
source "$(dirname "$0")/lib.sh"  # row
for b in Varnex varnex_window_bare; do
  [[ -x $build/bin/$b ]] || { echo "no $build/bin/$b: build with -DVARNEX_BENCH=ON" >&2; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/var/tmp}/varnex-start-bench.XXXXXX")
xpids=()
cleanup() { for p in "${xpids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/runtime" "$work/home"
chmod 700 "$work/runtime"
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export VARNEX_PROGRAM_DIR=$build/bin/

screen=offscreen
if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
  screen="X server $DISPLAY"
elif command -v Xvfb >/dev/null && command -v openbox >/dev/null; then
  for n in $(seq 70 99); do [[ -e /tmp/.X$n-lock ]] || break; done
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xpids+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  openbox >/dev/null 2>&1 &
  xpids+=($!)
  for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
  screen="Xvfb $DISPLAY with openbox"
fi
[[ $screen == offscreen ]] && export QT_QPA_PLATFORM=offscreen

times() {  # what-to-grep, command...: one "seconds" line per run
  local what=$1; shift
  for _ in $(seq "$runs"); do
    VARNEX_START_REPORT=quit timeout 60 "$@" 2>&1 >/dev/null | sed -n "s/^$what \([0-9.]*\) s.*/\1/p"
  done
}
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else print v[int((NR + 1) / 2)] }'; }

# Warm caches for both; the program's first start also makes the virtual
# recorder a user without drives gets.
times "first paint" "$build/bin/varnex_window_bare" >/dev/null
VARNEX_START_REPORT=quit timeout 60 "$build/bin/Varnex" --no-splash >/dev/null 2>&1 || true
bare=$(times "first paint" "$build/bin/varnex_window_bare" | median)
runlog=$work/runs.txt
for _ in $(seq "$runs"); do
  VARNEX_START_REPORT=quit timeout 60 "$build/bin/Varnex" --no-splash 2>&1 >/dev/null |
    grep -E '^(first paint|recorders listed)' >>"$runlog" || true
done
paint=$(sed -n 's/^first paint \([0-9.]*\) s.*/\1/p' "$runlog" | median)
listed=$(sed -n 's/^recorders listed \([0-9.]*\) s.*/\1/p' "$runlog" | median)
[[ $paint != nan && $listed != nan ]] || { echo "the program printed no start report" >&2; exit 1; }
echo "on $screen, medians of $runs runs:"
echo "  empty Qt window, first paint:     $bare s"
echo "  Varnex, first paint:              $paint s"
echo "  Varnex, recorder list filled:     $listed s"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b < 0.01) b = 0.01; printf "%.2f", a / b }'; }
row "desktop program start to first paint ($paint s)" "an empty Qt window" "$(ratio "$paint" "$bare")" -
row "desktop program start to recorders listed ($listed s)" "an empty Qt window" "$(ratio "$listed" "$bare")" -
