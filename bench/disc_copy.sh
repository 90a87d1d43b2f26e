#!/usr/bin/env bash
# Disc copy beside cp (the physical limit) in one run: a 600 MiB DVD-ROM
# copied onto a blank DVD+R on the fly, through a copy file, and from that
# file, against cp of the exported image followed by a sync of the copy (a
# recorder, virtual ones too, has the disc written when the copy ends, and a
# copy file is synced before it takes its name). Each is timed ROUNDS times
# (default 3), in turn, and the median is taken. Prints wall time, peak
# memory and the ratios. Needs: xorriso time.
# Usage: bench/disc_copy.sh [path/to/varnex-cli]   (WORK=<folder> to choose where the data goes)
set -euo pipefail
cli=${1:-build/bin/varnex-cli}
cli=$(readlink -f "$cli")
work=${WORK:-${TMPDIR:-/var/tmp}/varnex-bench-copy}
rm -rf "$work"; mkdir -p "$work/src"
trap 'rm -rf "$work"' EXIT
export VARNEX_PROGRAM_DIR="$work"

source "$(dirname "$0")/lib.sh"  # row
part_mb=${BENCH_PART_MB:-200}  # three files of this size make the disc
echo "preparing a $((3 * part_mb)) MiB DVD-ROM in $work ..."
for i in 1 2 3; do head -c $((part_mb << 20)) /dev/urandom > "$work/src/part$i.bin"; done
xorriso -as mkisofs -quiet -o "$work/in.iso" "$work/src" 2>/dev/null
rm -rf "$work/src"
"$cli" virtual create --media dvd-rom --iso "$work/in.iso" "$work/src.vdisc" >/dev/null
"$cli" virtual export --drive "virtual:$work/src.vdisc" -o "$work/src.iso" >/dev/null

measure() {  # label, command...; prints "label seconds peakKiB"
  local label=$1; shift
  sync; /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" || { cat "$work/err.txt"; exit 1; }
  read -r secs kib < "$work/time.txt"
  echo "$label $secs $kib"
}

rounds=${ROUNDS:-3}
fly=() via=() file=() cps=()
# Each round begins with another of them, so that none always runs first (on a
# disk still writing back what came before) or always last. The copy file the
# from-file step reads is made before the round, untimed.
step() {
  case $1 in
    0) fly+=("$(measure on-the-fly "$cli" copy --from "virtual:$work/src.vdisc" --to "virtual:$work/fly.vdisc")") ;;
    1) via+=("$(measure via-file "$cli" copy --from "virtual:$work/src.vdisc" --to "virtual:$work/via.vdisc" --via "$work/disc.bcl" --keep)") ;;
    2) file+=("$(measure from-file "$cli" copy --bcl "$work/ref.bcl" --to "virtual:$work/file.vdisc")") ;;
    3) cps+=("$(measure cp+sync sh -c 'cp "$1" "$2" && sync "$2"' sh "$work/src.iso" "$work/copy.iso")") ;;
  esac
}
"$cli" virtual create --media dvd+r "$work/ref.vdisc" >/dev/null
"$cli" copy --from "virtual:$work/src.vdisc" --to "virtual:$work/ref.vdisc" --via "$work/ref.bcl" --keep >/dev/null
rm -f "$work"/ref.vdisc*
for r in $(seq 0 $((rounds - 1))); do
  rm -f "$work"/fly.vdisc* "$work"/via.vdisc* "$work"/file.vdisc* "$work/disc.bcl" "$work/copy.iso"
  for t in fly via file; do "$cli" virtual create --media dvd+r "$work/$t.vdisc" >/dev/null; done
  sync
  for k in 0 1 2 3; do step $(( (r + k) % 4 )); done
done
a=$(median "${fly[@]}") b=$(median "${via[@]}") c=$(median "${file[@]}") d=$(median "${cps[@]}")
for t in fly via file; do
  "$cli" virtual export --drive "virtual:$work/$t.vdisc" -o "$work/$t.iso" >/dev/null
  cmp "$work/src.iso" "$work/$t.iso"
done

python3 - "$rounds" "$a" "$b" "$c" "$d" <<'PY'
import sys
rows = [a.split() for a in sys.argv[2:]]
base = float(rows[-1][1]) or 1e-3
print(f"\n== copying a 600 MiB DVD-ROM onto a DVD+R (virtual recorders), median of {sys.argv[1]} rounds")
print(f"{'step':<14}{'seconds':>9}{'peak MiB':>10}{'vs cp+sync':>11}")
for name, secs, kib in rows:
    print(f"{name:<14}{float(secs):>9.2f}{int(kib)/1024:>10.1f}{float(secs)/base:>11.2f}")
PY
versus "disc copy $((3 * part_mb)) MiB on the fly" "cp of the image + sync" "$a" "$d"
versus "disc copy through a copy file" "cp of the image + sync" "$b" "$d"
versus "disc copy from a copy file" "cp of the image + sync" "$c" "$d"
