#!/usr/bin/env bash
# The cost of the POSIX entries (Rock Ridge) on the image build of 20,000
# small files: varnex-cli with and without them, and xorriso with them
# (-r -J), in one run. Each build runs three times; the best time counts.
# Prints the times and the ratios. Needs: xorriso time.
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

best() {  # label, command...: the best of three runs as "label seconds peakKiB"
  local label=$1; shift
  local top="" line
  for _ in 1 2 3; do
    line=$(measure "$label" "$@"); rm -f "$out"
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
print(f"\n== 20,000 small files in 200 folders (best of 3)")
print(f"{'build':<14}{'seconds':>9}{'peak MiB':>10}")
for r in rows:
    print(f"{r[0]:<14}{t[r[0]]:>9.2f}{m[r[0]]/1024:>10.1f}")
cost = (t['varnex-rr'] / max(t['varnex-plain'], 1e-3) - 1) * 100
print(f"Rock Ridge cost: {cost:+.1f} % (aim: at most 5 %)")
print(f"varnex with Rock Ridge / xorriso -r -J = {t['varnex-rr'] / max(t['xorriso-rJ'], 1e-3):.2f} (aim: at most 1.00)")
PY
