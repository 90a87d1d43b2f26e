#!/usr/bin/env bash
# Several paced recorders writing one project at once: 1, 2, 4 and 8 virtual
# recorders at 16x DVD (DVD+R) and at 48x CD (CD-R), each recorder a drive
# with its own pace and buffer, all fed by one reading of the source. Prints
# for every count the seconds, the throughput of all recorders together, the
# ratio to N times one recorder (the goal: at least 0.95), the processor
# time of the busiest recorder and how many recorders each sector read from
# the source went to.
#
#   bench/multi.sh [DVD_MB] [CD_MB] [BUILD_DIR] [COUNTS]
#
# The recorders' sector files go to /dev/shm when it is there (BENCH_DISCS=
# another folder), so that the pace measured is the recorders' and not this
# machine's disk taking N discs at once.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
dvd_mb=${1:-64}
cd_mb=${2:-32}
cli=$(realpath "${3:-build}")/bin/varnex-cli
counts=${4:-"1 2 4 8"}
work=$(mktemp -d "${TMPDIR:-/tmp}/varnex-multi.XXXXXX")
discs_base=${BENCH_DISCS:-$([ -d /dev/shm ] && echo /dev/shm || echo "$work")}
discs=$(mktemp -d "$discs_base/varnex-multi-discs.XXXXXX")
trap 'rm -rf "$work" "$discs"' EXIT

run() {  # medium speed size_mb
  local medium=$1 speed=$2 mb=$3 one= peak=0
  head -c $((mb << 20)) /dev/urandom > "$work/payload.bin"
  cat "$work/payload.bin" > /dev/null
  printf "%-8s %-4s %6s %8s %10s %9s %9s %7s %9s\n" medium x recs seconds MB/s vs-N*one cpu-max fed peak-MiB
  for n in $counts; do
    drives=()
    for i in $(seq 1 "$n"); do
      "$cli" virtual create --media "$medium" --speed "$speed" "$discs/r$i.vdisc" > /dev/null
      drives+=(--drive "virtual:$discs/r$i.vdisc")
    done
    /usr/bin/time -f "%e %M" -o "$work/time" "$cli" burn "${drives[@]}" "$work/payload.bin" > /dev/null 2> "$work/err" ||
      { cat "$work/err"; exit 1; }
    read -r secs kib < "$work/time"
    rm -f "$discs"/r*.vdisc*
    [ -z "$one" ] && one=$secs
    cpu=$(awk '/processor time of each recorder/ { for (i = 1; i <= NF; ++i) if ($(i + 1) == "s" && $i + 0 > m) m = $i + 0 }
               END { if (NR && m != "") printf "%.2f", m; else printf "-" }' "$work/err")
    fed=$(awk '/handed to the recorders/ { gsub(/[()]/, "", $(NF - 1)); print $(NF - 1) }' "$work/err")
    ratio=$(awk -v n="$n" -v s="$secs" -v one="$one" 'BEGIN { if (s < 0.01) s = 0.01; printf "%.2f", n * one / s / n }')
    awk -v m="$medium" -v x="$speed" -v n="$n" -v s="$secs" -v mb="$mb" -v r="$ratio" -v c="$cpu" -v f="${fed:-1}" -v k="$kib" \
      'BEGIN { if (s < 0.01) s = 0.01; printf "%-8s %-4s %6d %8.2f %10.1f %8.2fx %9s %9s %9.1f\n", m, x, n, s, n * mb / s, r, c, f, k / 1024 }'
    [ "$n" -gt 1 ] && row "$n recorders at $speed $medium" "N x one recorder" "$ratio" "$kib"
  done
}

run dvd+r 16x "$dvd_mb"
run cd-r 48x "$cd_mb"
