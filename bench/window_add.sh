#!/usr/bin/env bash
# Adding a folder of 20,000 small files in 200 folders to a data project:
# the data disc window (background worker, tree items, totals) next to the
# command-line front, cp -r (copying the tree into a staging folder, as users
# otherwise gather files for a disc) and find (the bare walk), in one run.
# Prints wall time, peak memory and the ratios. The window's figure is the
# addition as the user waits for it (from the command to the tree, list and
# totals filled, timed inside the program); the whole process (Qt's start,
# the addition, removing the project's staging folder at the end) is given
# beside it.
# Usage: bench/window_add.sh [BUILDDIR]   (needs -DVARNEX_BENCH=ON for the window bench)
set -euo pipefail
build=$(readlink -f "${1:-build}")
source "$(dirname "$0")/lib.sh"  # versus
work=${WORK:-${TMPDIR:-/var/tmp}/varnex-window-bench}
rm -rf "$work"; mkdir -p "$work/tree"
trap 'rm -rf "$work"' EXIT
python3 - "$work/tree" <<'PY'
import os, sys, random
random.seed(2)
for d in range(200):
    folder = os.path.join(sys.argv[1], f"folder{d:03d}")
    os.makedirs(folder)
    for f in range(100):
        with open(os.path.join(folder, f"file{f:03d}.txt"), "wb") as out:
            out.write(os.urandom(random.randint(100, 2000)))
PY
find "$work/tree" -type f > /dev/null  # the same warm cache for all

measure() {  # label, command...
  local label=$1; shift
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" || { cat "$work/err.txt"; exit 1; }
  read -r secs kib < "$work/time.txt"
  echo "$label $secs $kib"
}
w=$(QT_QPA_PLATFORM=offscreen VARNEX_PROGRAM_DIR="$build/bin/" measure window "$build/bin/varnex_window_bench" "$work/tree" "$work/add.txt")
read -r _ files _ add _ < "$work/add.txt"
[[ $files == 20000 ]] || { echo "the window added $files files, not 20000" >&2; exit 1; }
a="add $add ${w##* }"
c=$(measure cli "$build/bin/varnex-cli" project save -o "$work/p.bcd" "$work/tree")
p=$(measure cp cp -r "$work/tree" "$work/copy")
f=$(measure find find "$work/tree" -type f -printf "%s %p\n")
versus "adding 20,000 files in the window" "find" "$a" "$f"
versus "the window bench as a whole process (start, add, quit)" "find" "$w" "$f"
python3 - "$a" "$w" "$c" "$p" "$f" <<'PY'
import sys
rows = [a.split() for a in sys.argv[1:]]
t = {r[0]: float(r[1]) for r in rows}
m = {r[0]: int(r[2]) for r in rows}
print(f"{'tool':<8}{'seconds':>9}{'peak MiB':>10}{'vs window':>11}")
for r in rows:
    print(f"{r[0]:<8}{t[r[0]]:>9.2f}{m[r[0]]/1024:>10.1f}{t[r[0]]/max(t['window'],1e-3):>11.2f}")
print(f"add / find = {t['add']/max(t['find'],1e-3):.2f}   window / cli = {t['window']/max(t['cli'],1e-3):.2f}   window / cp = {t['window']/max(t['cp'],1e-3):.2f}   window / find = {t['window']/max(t['find'],1e-3):.2f}")
PY
