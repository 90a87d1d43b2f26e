#!/usr/bin/env bash
# Every benchmark under bench/, one after the other, and one table of their
# results: what was timed, what it was compared with (the tool users would
# otherwise use, or the physical limit), the ratio of the times (below 1:
# Varnex is faster) and Varnex's peak memory. Each figure comes from this one
# run on this machine. The sizes are kept small so that the whole run takes
# a few minutes; set them larger for steadier figures:
#
#   SIZE_MB=64 PART_MB=40 MINUTES=1 FILES=2000 bench/all.sh [BUILD_DIR] [LOG_DIR]
#
# SIZE_MB: the data burnt, verified and written by several recorders at once
# (the paced recorders take SIZE_MB at 16x DVD and SIZE_MB / 2 at 48x
# CD); PART_MB: each of the three large files of the copied, pressed and
# extracted discs and the four of the image layouts; MINUTES: the audio and
# video; FILES: the paths handed to the window. A benchmark whose tools or
# build are missing is listed as skipped. The output of each benchmark is
# kept in LOG_DIR (a new temporary folder by default).
set -uo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
logs=${2:-$(mktemp -d "${TMPDIR:-/tmp}/varnex-bench-logs.XXXXXX")}
mkdir -p "$logs"
size=${SIZE_MB:-64}
part=${PART_MB:-40}
minutes=${MINUTES:-1}
files=${FILES:-2000}
cli=$build/bin/varnex-cli
[ -x "$cli" ] || { echo "no $cli: build varnex-cli first" >&2; exit 2; }

table=()
skipped=()
run() {  # name, command...
  local name=$1; shift
  local start=$SECONDS
  printf '%-18s ' "$name" >&2
  if env "$@" > "$logs/$name.log" 2>&1; then
    local rows
    rows=$(grep '^row|' "$logs/$name.log" || true)
    if [ -z "$rows" ]; then skipped+=("$name: no results (see $logs/$name.log)"); else table+=("$rows"); fi
    echo "$((SECONDS - start)) s" >&2
  else
    local why
    why=$(grep -v '^row|' "$logs/$name.log" | tail -1)
    skipped+=("$name: ${why:-failed} (see $logs/$name.log)")
    echo "skipped ($((SECONDS - start)) s)" >&2
  fi
}

run multi bench/multi.sh "$size" $((size / 2)) "$build"
run multi-recorder bench/multi-recorder.sh "$size" "$build"
run burn-throughput bench/burn-throughput.sh "$size" "$build"
run verify bench/verify.sh "$size" "$build"
run disc_copy BENCH_PART_MB="$part" bench/disc_copy.sh "$cli"
run extract_files BENCH_PART_MB="$part" bench/extract_files.sh "$cli"
run virtual_recorder BENCH_PART_MB="$part" bench/virtual_recorder.sh "$cli"
run iso_layout LARGE_MB="$part" bench/iso_layout.sh "$cli"
run udf_layout LARGE_MB="$part" bench/udf_layout.sh "$cli"
run rockridge bench/rockridge.sh "$cli"
run rip bench/rip.sh "$minutes" "$build"
run audio bench/audio.sh "$minutes" "$build"
run dvd_video bench/dvd_video.sh "$minutes" "$build"
run window_add bench/window_add.sh "$build"
run window_start bench/window_start.sh "$build"
run handover bench/handover.sh "$build" "$files"

echo
echo "| what | compared with | ratio | peak memory |"
echo "|---|---|---:|---:|"
printf '%s\n' "${table[@]}" | awk -F'|' 'NF >= 5 { printf "| %s | %s | %s | %s |\n", $2, $3, $4, $5 }'
for s in "${skipped[@]}"; do echo "skipped: $s"; done
echo
echo "(sizes: SIZE_MB=$size PART_MB=$part MINUTES=$minutes FILES=$files; logs in $logs)"
