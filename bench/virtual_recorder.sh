#!/usr/bin/env bash
# The virtual recorder beside cp/cat (the physical limit) in one run, each of
# them followed by a sync of what it wrote, as Varnex syncs its own:
#   pressing a DVD-ROM from an ISO (a plain copy of 2048-byte sectors),
#   pressing a CD-ROM (every sector built with sync, header, EDC and ECC),
#   exporting the disc again as an ISO, and as BIN/CUE.
# Prints wall time, peak memory and the ratios. Needs: xorriso time.
# Usage: bench/virtual_recorder.sh [path/to/varnex-cli]   (WORK=<folder> to choose where the data goes)
set -euo pipefail
cli=${1:-build/bin/varnex-cli}
cli=$(readlink -f "$cli")
work=${WORK:-${TMPDIR:-/var/tmp}/varnex-bench-vr}
rm -rf "$work"; mkdir -p "$work/src"
trap 'rm -rf "$work"' EXIT
export VARNEX_PROGRAM_DIR="$work"

source "$(dirname "$0")/lib.sh"  # row
part_mb=${BENCH_PART_MB:-200}
echo "preparing a $((3 * part_mb)) MiB image in $work ..."
for i in 1 2 3; do head -c $((part_mb << 20)) /dev/urandom > "$work/src/part$i.bin"; done
xorriso -as mkisofs -quiet -o "$work/in.iso" "$work/src" 2>/dev/null
rm -rf "$work/src"

measure() {  # label, command...; prints "label seconds peakKiB"
  local label=$1; shift
  sync; /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" || { cat "$work/err.txt"; exit 1; }
  read -r secs kib < "$work/time.txt"
  echo "$label $secs $kib"
}

report() {  # title, rows...
  python3 - "$@" <<'PY'
import sys
title = sys.argv[1]
rows = [a.split() for a in sys.argv[2:]]
base = float(rows[-1][1]) or 1e-3
print(f"\n== {title}")
print(f"{'step':<14}{'seconds':>9}{'peak MiB':>10}{'vs cp/cat':>11}")
for name, secs, kib in rows:
    print(f"{name:<14}{float(secs):>9.2f}{int(kib)/1024:>10.1f}{float(secs)/base:>11.2f}")
PY
}

cat "$work/in.iso" > /dev/null
a=$(measure dvd-rom "$cli" virtual create --media dvd-rom --iso "$work/in.iso" "$work/dvd.vdisc")
b=$(measure cd-rom "$cli" virtual create --media cd-rom --iso "$work/in.iso" "$work/cd.vdisc")
c=$(measure cp sh -c 'cp "$1" "$2" && sync "$2"' sh "$work/in.iso" "$work/copy.iso"); rm -f "$work/copy.iso"
report "pressing a disc from a 600 MiB ISO" "$a" "$b" "$c"

d=$(measure export-iso "$cli" virtual export --drive "virtual:$work/cd.vdisc" -o "$work/out.iso")
e=$(measure export-cue "$cli" virtual export --drive "virtual:$work/cd.vdisc" --cue "$work/out.cue")
cmp "$work/in.iso" "$work/out.iso"
f=$(measure cat sh -c "cat '$work/cd.vdisc.sectors' > '$work/copy.bin' && sync '$work/copy.bin'")
report "exporting the CD-ROM again" "$d" "$e" "$f"
versus "virtual create dvd-rom from a $((3 * part_mb)) MiB ISO" "cp of the ISO + sync" "$a" "$c"
versus "virtual create cd-rom (sectors encoded)" "cp of the ISO + sync" "$b" "$c"
versus "virtual export of the CD-ROM as ISO" "cat of its sectors + sync" "$d" "$f"
versus "virtual export of the CD-ROM as BIN/CUE" "cat of its sectors + sync" "$e" "$f"
