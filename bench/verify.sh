#!/usr/bin/env bash
# Reading discs back, side by side in one run: "varnex-cli verify --image"
# of a virtual DVD+R holding SIZE_MB (4096 by default) against cmp of the
# image exported from that disc with the source image, and the time
# "--verify" adds to "varnex-cli burn" of the same data. Prints seconds,
# MB/s, peak resident memory and the ratios. Needs about three times SIZE_MB
# of free disk (the payload, the disc's sectors, the images).
#
#   bench/verify.sh [SIZE_MB] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh  # versus
size=${1:-4096}
cli=${2:-build}/bin/varnex-cli
work=$(mktemp -d "${TMPDIR:-/tmp}/varnex-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
head -c $((size * 1024 * 1024)) /dev/urandom > "$work/src/payload.bin"

measure() {  # name, command...: prints "name seconds peak-KiB"
  local name=$1; shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" > "$work/out" 2> "$work/err" || { cat "$work/out" "$work/err"; exit 1; }
  echo "$name $(cat "$work/time")"
}
ratio() { python3 -c "print(f'{float($1) / max(float($2), 0.001):.2f}')"; }
secs() { echo "$1" | cut -d' ' -f2; }

"$cli" virtual create --media dvd+r "$work/plain.vdisc" > /dev/null
"$cli" virtual create --media dvd+r "$work/checked.vdisc" > /dev/null
sync
plain=$(measure burn "$cli" burn --drive "virtual:$work/plain.vdisc" "$work/src")
sync
checked=$(measure "burn+verify" "$cli" burn --verify --drive "virtual:$work/checked.vdisc" "$work/src")
grep -q "verified (" "$work/out" || { echo "the burn did not verify:"; cat "$work/out" "$work/err"; exit 1; }

"$cli" virtual export --drive "virtual:$work/plain.vdisc" -o "$work/exported.iso" > /dev/null
cp "$work/exported.iso" "$work/source.iso"
# The same warm page cache for both: each reads its inputs once before.
cat "$work/exported.iso" "$work/source.iso" "$work/plain.vdisc.sectors" > /dev/null
by_cmp=$(measure cmp cmp "$work/exported.iso" "$work/source.iso")
ours=$(measure verify-image "$cli" verify --drive "virtual:$work/plain.vdisc" --image "$work/source.iso")

mb=$(python3 -c "print(round($(stat -c %s "$work/source.iso") / 1e6))")
printf '%-16s %8s %10s %8s\n' what seconds peak-KiB MB/s
for r in "$plain" "$checked" "$by_cmp" "$ours"; do
  set -- $r
  printf '%-16s %8s %10s %8s\n' "$1" "$2" "$3" "$(python3 -c "print(round($mb / max($2, 0.001)))")"
done
echo "image: $mb MB"
echo "verify --image / cmp: $(ratio "$(secs "$ours")" "$(secs "$by_cmp")")  (goal: within 1.2)"
echo "burn --verify / burn: $(ratio "$(secs "$checked")" "$(secs "$plain")")  (extra seconds: $(python3 -c "print(round($(secs "$checked") - $(secs "$plain"), 1))"))"
versus "verify --image, $mb MB" "cmp of the exported image" "$ours" "$by_cmp"
versus "burn --verify, $mb MB" "burn alone" "$checked" "$plain"
