#!/usr/bin/env bash
# The cost of the POSIX entries (Rock Ridge) on the image build of 20,000
# small files: varnex-cli with and without them, and xorriso with them
# (-r -J), in one run. Each build runs three times; the best time counts.
# Prints the wall and CPU times and the ratios. Needs: xorriso time.
# Usage: bench/rockridge.sh [path/to/varnex-cli]   (WORK=<folder> to choose where the data goes)
set -euo pipefail
cli=${1:-build/bin/varnex-cli}
cli=$(readlink -f "$cli")
work=${WORK:-${TMPDIR:-/var/tmp}/varnex-bench-rr}
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/lib.sh"
rm -rf "$work"; mkdir -p "$work"
echo "preparing 20,000 files in $work ..."
prepare_small_tree "$work/small"
dir="$work/small"
out="$work/out.iso"
cat $(find "$dir" -type f) > /dev/null  # the same warm cache for every build

# As measure in lib.sh, with the CPU time (user + system) as a fourth
# field: on a shared machine the wall time also counts the others' work.
measure_cpu() {  # label, command...; prints "label seconds peakKiB cpuSeconds"
  local label=$1; shift
  sync; /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" || { cat "$work/err.txt"; exit 1; }
  read -r secs kib user sys < "$work/time.txt"
  echo "$label $secs $kib $(awk -v u="$user" -v s="$sys" 'BEGIN{print u + s}')"
}

best() {  # label, command...: the best of three runs as "label seconds peakKiB cpuSeconds"
  local label=$1; shift
  local top="" line
  for _ in 1 2 3; do
    line=$(measure_cpu "$label" "$@"); rm -f "$out"
    if [ -z "$top" ] || awk -v a="$(echo "$line" | cut -d' ' -f2)" -v b="$(echo "$top" | cut -d' ' -f2)" 'BEGIN{exit !(a<b)}'; then
      top=$line
    fi
  done
  echo "$top"
}

with=$(best varnex-rr "$cli" image -o "$out" "$dir"/*)
without=$(best varnex-plain "$cli" image --no-rock -o "$out" "$dir"/*)
xo=$(best xorriso-rJ xorriso -as mkisofs -quiet -r -J -o "$out" "$dir")
python3 - "$with" "$without" "$xo" <<'PY'
import sys
rows = [a.split() for a in sys.argv[1:]]
t = {r[0]: float(r[1]) for r in rows}
m = {r[0]: int(r[2]) for r in rows}
c = {r[0]: float(r[3]) for r in rows}
print(f"\n== 20,000 small files in 200 folders (best of 3)")
print(f"{'build':<14}{'seconds':>9}{'cpu s':>8}{'peak MiB':>10}")
for r in rows:
    print(f"{r[0]:<14}{t[r[0]]:>9.2f}{c[r[0]]:>8.2f}{m[r[0]]/1024:>10.1f}")
cost = (t['varnex-rr'] / max(t['varnex-plain'], 1e-3) - 1) * 100
cpu = (c['varnex-rr'] / max(c['varnex-plain'], 1e-3) - 1) * 100
print(f"Rock Ridge cost: {cost:+.1f} % wall, {cpu:+.1f} % CPU (aim: at most 5 %)")
print(f"varnex with Rock Ridge / xorriso -r -J = {t['varnex-rr'] / max(t['xorriso-rJ'], 1e-3):.2f} (aim: at most 1.00)")
PY
versus "ISO image with Rock Ridge, 20,000 small files" "xorriso -r -J" "$with" "$xo"
versus "ISO image with Rock Ridge" "without Rock Ridge" "$with" "$without"
