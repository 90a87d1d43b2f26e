#!/usr/bin/env bash
# Lays the same trees out with varnex-cli, xorriso and genisoimage, and copies
# their files with cat (the physical limit), side by side in one run.
#   (a) a few large files, 1.2 GiB in all
#   (b) 20,000 small files
# Prints wall time, peak memory and the ratios. Needs: xorriso genisoimage time.
# Usage: bench/iso_layout.sh [path/to/varnex-cli]   (WORK=<folder> to choose where the data goes)
set -euo pipefail
cli=${1:-build/bin/varnex-cli}
cli=$(readlink -f "$cli")
work=${WORK:-${TMPDIR:-/var/tmp}/varnex-bench}
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/lib.sh"
large_mb=${LARGE_MB:-300}
prepare_trees "$large_mb"

run_tree() {  # name, folder
  local name=$1 dir=$2 out="$work/out.iso"
  cat $(find "$dir" -type f) > /dev/null  # same warm cache for every tool
  local v x g c
  v=$(measure varnex "$cli" image -o "$out" "$dir"/*); rm -f "$out"
  x=$(measure xorriso xorriso -as mkisofs -quiet -J -o "$out" "$dir"); rm -f "$out"
  g=$(measure genisoimage genisoimage -quiet -J -o "$out" "$dir"); rm -f "$out"
  c=$(measure cat sh -c "find '$dir' -type f -print0 | xargs -0 cat > '$out'"); rm -f "$out"
  versus "ISO image, $name" "xorriso -as mkisofs" "$v" "$x"
  python3 - "$name" "$v" "$x" "$g" "$c" <<'PY'
import sys
name = sys.argv[1]
rows = [a.split() for a in sys.argv[2:]]
t = {r[0]: float(r[1]) for r in rows}
m = {r[0]: int(r[2]) for r in rows}
print(f"\n== {name}")
print(f"{'tool':<12}{'seconds':>9}{'peak MiB':>10}{'vs varnex':>11}")
for r in rows:
    tool = r[0]
    ratio = t[tool] / t['varnex'] if t['varnex'] else float('nan')
    print(f"{tool:<12}{t[tool]:>9.2f}{m[tool]/1024:>10.1f}{ratio:>11.2f}")
print(f"varnex / xorriso = {t['varnex']/max(t['xorriso'],1e-3):.2f}   varnex / genisoimage = {t['varnex']/max(t['genisoimage'],1e-3):.2f}   varnex / cat = {t['varnex']/max(t['cat'],1e-3):.2f}")
PY
}

run_tree "(a) 4 large files, $((4 * large_mb)) MiB" "$work/large"
run_tree "(b) 20,000 small files in 200 folders" "$work/small"

# Memory must not grow with the image: the same layout with a quarter of the data.
rm -f "$work/large/part2.bin" "$work/large/part3.bin" "$work/large/part4.bin"
q=$(measure varnex "$cli" image -o "$work/out.iso" "$work/large"/*); rm -f "$work/out.iso"
echo; echo "varnex peak memory with 0.3 GiB of data: $(echo "$q" | awk '{printf "%.1f MiB", $3/1024}') (compare with (a))"
