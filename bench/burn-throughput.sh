#!/usr/bin/env bash
# Burn throughput and peak memory, side by side with cat of the same bytes,
# in one run: a data project of one large file burnt into an image file and
# onto a virtual DVD+R, and three copies onto three image recorders at
# once (compared with three cats); then 20,000 small files burnt into an
# image file (ISO 9660) and onto a virtual DVD+R (UDF), compared with cat of
# those files. Prints seconds, MB/s, peak resident memory and the ratio to cat
# (and, for one large file, to cat followed by a sync of its output).
#
#   bench/burn-throughput.sh [SIZE_MB] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh  # prepare_small_tree
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
# An image file is complete only once it is on the disk (it is synced before
# it is renamed into place): cat followed by a sync of its output is the
# comparison that pays the same.
results+=("$(measure cat+fsync sh -c "cat '$work/payload.bin' > '$work/cat.out' && sync '$work/cat.out'")")
rm -f "$work/cat.out"
results+=("$(measure image-file "$cli" burn --drive "image:$work/out.iso" "$work/payload.bin")")
rm -f "$work/out.iso"
"$cli" virtual create --media dvd+r "$work/one.vdisc" > /dev/null
results+=("$(measure virtual-dvd+r "$cli" burn --drive "virtual:$work/one.vdisc" "$work/payload.bin")")
rm -f "$work"/one.vdisc*
# Three recorders at once, fed by one reading of the source; cat writes the
# same three copies one after the other, and they are synced as the images
# are.
results+=("$(measure 3x-image-files "$cli" burn --drive "image:$work/a.iso" --drive "image:$work/b.iso" \
  --drive "image:$work/c.iso" "$work/payload.bin")")
rm -f "$work"/[abc].iso
results+=("$(measure 3x-cat sh -c "for f in a b c; do cat '$work/payload.bin' > '$work/'\$f.out; done && sync '$work/a.out' '$work/b.out' '$work/c.out'")")
rm -f "$work"/[abc].out

# Many small files: what counts here is the cost per file. cat gathers
# their bytes into one file, synced as the image is.
prepare_small_tree "$work/small" > /dev/null
small_mb=$(du -sm --apparent-size "$work/small" | cut -f1)
find "$work/small" -type f -print0 | xargs -0 cat > /dev/null
results+=("$(measure small-cat sh -c "find '$work/small' -type f -print0 | xargs -0 cat > '$work/small.out' && sync '$work/small.out'")")
rm -f "$work/small.out"
results+=("$(measure small-image-file "$cli" burn --drive "image:$work/small.iso" "$work/small")")
rm -f "$work/small.iso"
"$cli" virtual create --media dvd+r "$work/small.vdisc" > /dev/null
results+=("$(measure small-virtual-dvd+r "$cli" burn --drive "virtual:$work/small.vdisc" "$work/small")")
rm -f "$work"/small.vdisc*

# Each job against the cat that moves the same bytes: one copy or three.
base=$(echo "${results[0]}" | cut -d' ' -f2)
base3=$(printf "%s\n" "${results[@]}" | awk '$1 == "3x-cat" { print $2 }')
bases=$(printf "%s\n" "${results[@]}" | awk '$1 == "small-cat" { print $2 }')
based=$(printf "%s\n" "${results[@]}" | awk '$1 == "cat+fsync" { print $2 }')
printf "%-20s %8s %9s %12s %10s %12s\n" job seconds MB/s peak-MiB vs-cat vs-cat+fsync
for r in "${results[@]}"; do
  read -r name secs kib <<< "$r"
  mb=$size; b=$base; d=$based
  case $name in 3x-*) mb=$((size * 3)); b=$base3; d=0 ;; small-*) mb=$small_mb; b=$bases; d=0 ;; esac
  awk -v n="$name" -v s="$secs" -v k="$kib" -v b="$b" -v d="$d" -v mb="$mb" 'BEGIN {
    if (s < 0.01) s = 0.01; if (b < 0.01) b = 0.01;
    synced = d > 0 ? sprintf("%11.2fx", s / d) : sprintf("%12s", "-");
    printf "%-20s %8.2f %9.1f %12.1f %9.2fx %s\n", n, s, mb / s, k / 1024, s / b, synced }'
  # The table of bench/all.sh: each burn against what moves the same bytes.
  versus=; base_s=
  case $name in
    image-file) versus="cat + sync"; base_s=$based ;;
    virtual-dvd+r) versus="cat + sync"; base_s=$based ;;
    3x-image-files) versus="3 cats + sync"; base_s=$base3 ;;
    small-image-file|small-virtual-dvd+r) versus="cat of the files + sync"; base_s=$bases ;;
  esac
  [ -n "$versus" ] && row "burn $size MiB: $name" "$versus" "$(awk -v s="$secs" -v b="$base_s" 'BEGIN { if (b < 0.01) b = 0.01; printf "%.2f", s / b }')" "$kib"
done
