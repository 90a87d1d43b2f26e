#!/usr/bin/env bash
# Lays the same trees out as UDF with varnex-cli and genisoimage -udf (the
# UDF writer users would otherwise reach for), beside varnex's own ISO 9660
# layout and a plain cat of the files (the physical limit), in one run.
#   (a) a few large files (LARGE_MB each, 4 of them; default 300)
#   (b) 20,000 small files in 200 folders
# Prints wall time, peak memory and the ratios. Needs: genisoimage time.
# Usage: bench/udf_layout.sh [path/to/varnex-cli]   (WORK=<folder> to choose where the data goes)
set -euo pipefail
cli=${1:-build/bin/varnex-cli}
cli=$(readlink -f "$cli")
large_mb=${LARGE_MB:-300}
work=${WORK:-${TMPDIR:-/var/tmp}/varnex-udf-bench}
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/lib.sh"
prepare_trees "$large_mb"

best() {  # label, command...: the faster of two runs, so that the order of
          # the tools (and the write-back of the one before) weighs less
  local a b
  a=$(measure "$@"); rm -f "$work/out.iso"
  b=$(measure "$@"); rm -f "$work/out.iso"
  python3 -c "import sys; r=[x.split() for x in sys.argv[1:]]; print(' '.join(min(r, key=lambda x: float(x[1]))))" "$a" "$b"
}

run_tree() {  # name, folder
  local name=$1 dir=$2 out="$work/out.iso"
  cat $(find "$dir" -type f) > /dev/null  # same warm cache for every tool
  measure warm-up "$cli" image --udf -o "$out" "$dir"/* >/dev/null; rm -f "$out"  # the first run pays for the set-up's write-back
  local u i g c
  u=$(best varnex-udf "$cli" image --udf -o "$out" "$dir"/*)
  i=$(best varnex-iso "$cli" image -o "$out" "$dir"/*)
  g=$(best genisoimage genisoimage -quiet -udf -o "$out" "$dir")
  c=$(best cat sh -c "find '$dir' -type f -print0 | xargs -0 cat > '$out'")
  versus "UDF image, $name" "genisoimage -udf" "$u" "$g"
  python3 - "$name" "$u" "$i" "$g" "$c" <<'PY'
import sys
name = sys.argv[1]
rows = [a.split() for a in sys.argv[2:]]
t = {r[0]: float(r[1]) for r in rows}
m = {r[0]: int(r[2]) for r in rows}
base = t['varnex-udf']
print(f"\n== {name}")
print(f"{'tool':<13}{'seconds':>9}{'peak MiB':>10}{'vs varnex-udf':>15}")
for r in rows:
    tool = r[0]
    print(f"{tool:<13}{t[tool]:>9.2f}{m[tool]/1024:>10.1f}{(t[tool]/base if base else float('nan')):>15.2f}")
print(f"varnex-udf / genisoimage -udf = {base/max(t['genisoimage'],1e-3):.2f}   "
      f"varnex-udf / varnex-iso = {base/max(t['varnex-iso'],1e-3):.2f}   varnex-udf / cat = {base/max(t['cat'],1e-3):.2f}")
PY
}

run_tree "(a) 4 large files, $((4 * large_mb)) MiB" "$work/large"
run_tree "(b) 20,000 small files in 200 folders" "$work/small"

# Memory must not grow with the image: the same layout with a quarter of the data.
rm -f "$work/large/part2.bin" "$work/large/part3.bin" "$work/large/part4.bin"
q=$(measure varnex-udf "$cli" image --udf -o "$work/out.iso" "$work/large"/*); rm -f "$work/out.iso"
echo; echo "varnex-udf peak memory with a quarter of (a): $(echo "$q" | awk '{printf "%.1f MiB", $3/1024}') (compare with (a))"
