#!/usr/bin/env bash
# Saving the files of a 600 MiB data disc beside 7zz extracting the same
# image, in one run: varnex-cli extract-files from a pressed DVD-ROM
# (virtual recorder) and from the image file itself, against `7zz x` of the
# image followed by `sync` (varnex-cli makes every file durable before it
# takes its name, so the fair match is a synced copy). Each is timed ROUNDS
# times (default 3), in turn, and the median is taken. Prints wall time, peak
# memory and the ratios, and checks that every file came out equal. Needs:
# xorriso 7zz time.
#
# Nothing is deleted between the timed runs: on a file system without a
# journal (ext4 as this machine has it) inodes freed in the last seconds are
# skipped one by one when files are created, so a deletion just before one
# tool would slow that tool alone.
# Usage: bench/extract_files.sh [path/to/varnex-cli]   (WORK=<folder> to choose where the data goes)
set -euo pipefail
cli=${1:-build/bin/varnex-cli}
cli=$(readlink -f "$cli")
work=${WORK:-${TMPDIR:-/var/tmp}/varnex-bench-extract}
rm -rf "$work"; mkdir -p "$work/src/big" "$work/src/small"
trap 'rm -rf "$work"' EXIT
export VARNEX_PROGRAM_DIR="$work"

source "$(dirname "$0")/lib.sh"  # row
part_mb=${BENCH_PART_MB:-190}  # the three large files
echo "preparing a $((3 * part_mb + 20)) MiB data disc in $work ..."
for i in 1 2 3; do head -c $((part_mb << 20)) /dev/urandom > "$work/src/big/part$i.bin"; done
python3 - "$work/src/small" <<'PY'
import os, sys, random
random.seed(1)
for d in range(50):
    folder = os.path.join(sys.argv[1], f"folder{d:02d}")
    os.makedirs(folder)
    for f in range(100):
        with open(os.path.join(folder, f"file{f:03d}.txt"), "wb") as out:
            out.write(os.urandom(random.randint(200, 8000)))
PY
xorriso -as mkisofs -quiet -J -o "$work/in.iso" "$work/src" 2>/dev/null
"$cli" virtual create --media dvd-rom --iso "$work/in.iso" "$work/disc.vdisc" >/dev/null

measure() {  # label, command...; prints "label seconds peakKiB"
  local label=$1; shift
  sync; /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" || { cat "$work/err.txt"; exit 1; }
  read -r secs kib < "$work/time.txt"
  echo "$label $secs $kib"
}

rounds=${ROUNDS:-3}
disc=() image=() szz=()
for r in $(seq "$rounds"); do
  # Each round starts with another of the three, so that none always
  # follows the deletions of the round before.
  for k in $(printf '%s\n' 0 1 2 | awk -v r="$r" '{ print ($1 + r) % 3 }'); do
    case $k in
      0) disc+=("$(measure varnex-disc "$cli" extract-files --drive "virtual:$work/disc.vdisc" -o "$work/out-disc$r")") ;;
      1) image+=("$(measure varnex-image "$cli" extract-files --drive "image:$work/in.iso" -o "$work/out-image$r")") ;;
      2) szz+=("$(measure 7zz+sync sh -c '7zz x -y -o"$1" "$2" >/dev/null && sync' sh "$work/out-7zz$r" "$work/in.iso")") ;;
    esac
  done
done
a=$(median "${disc[@]}") b=$(median "${image[@]}") c=$(median "${szz[@]}")
diff -r "$work/src" "$work/out-disc$rounds"
diff -r "$work/src" "$work/out-image$rounds"
diff -r "$work/src" "$work/out-7zz$rounds"

python3 - "$rounds" "$a" "$b" "$c" <<'PY'
import sys
rows = [a.split() for a in sys.argv[2:]]
base = float(rows[-1][1]) or 1e-3
print(f"\n== saving the files of a 600 MiB data disc (3 large files, 5,000 small ones), median of {sys.argv[1]} rounds")
print(f"{'tool':<14}{'seconds':>9}{'peak MiB':>10}{'vs 7zz+sync':>12}")
for name, secs, kib in rows:
    print(f"{name:<14}{float(secs):>9.2f}{int(kib)/1024:>10.1f}{float(secs)/base:>12.2f}")
PY
versus "extract-files of a $((3 * part_mb + 20)) MiB disc, virtual:" "7zz x of the image + sync" "$a" "$c"
versus "extract-files of the disc, image:" "7zz x of the image + sync" "$b" "$c"
