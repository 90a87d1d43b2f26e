#!/usr/bin/env bash
# Burn throughput and peak memory, side by side with cat of the same bytes,
# in one run: a data project of one large file burnt into an image file and
# onto a virtual DVD+R, and several copies onto several virtual recorders
# at once. Prints seconds, MB/s, peak resident memory and the ratio to cat.
#
#   bench/burn-throughput.sh [SIZE_MB] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-512}
cli=${2:-build}/bin/varnex-cli
work=$(mktemp -d "${TMPDIR:-/tmp}/varnex-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
head -c $((size * 1024 * 1024)) /dev/urandom > "$work/payload.bin"
cat "$work/payload.bin" > /dev/null  # the same warm page cache for everyone

measure() {  # name, command...: prints "name seconds peak-KiB"
  local name=$1; shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" > /dev/null 2> "$work/err" || { cat "$work/err"; exit 1; }
  echo "$name $(cat "$work/time")"
}

results=()
results+=("$(measure cat sh -c "cat '$work/payload.bin' > '$work/cat.out'")")
rm -f "$work/cat.out"
results+=("$(measure image-file "$cli" burn --drive "image:$work/out.iso" "$work/payload.bin")")
rm -f "$work/out.iso"
"$cli" virtual create --media dvd+r "$work/one.vdisc" > /dev/null
results+=("$(measure virtual-dvd+r "$cli" burn --drive "virtual:$work/one.vdisc" "$work/payload.bin")")
rm -f "$work"/one.vdisc*

base=$(echo "${results[0]}" | cut -d' ' -f2)
printf "%-16s %8s %9s %12s %10s\n" job seconds MB/s peak-MiB vs-cat
for r in "${results[@]}"; do
  read -r name secs kib <<< "$r"
  awk -v n="$name" -v s="$secs" -v k="$kib" -v b="$base" -v mb="$size" 'BEGIN {
    if (s < 0.01) s = 0.01; if (b < 0.01) b = 0.01;
    printf "%-16s %8.2f %9.1f %12.1f %9.2fx\n", n, s, mb / s, k / 1024, s / b }'
done
