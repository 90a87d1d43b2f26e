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
#
# Then four remote recorders over iSCSI: tgtd emulates a DVD recorder on a
# blank file for each of five targets on 127.0.0.1, and one project is burnt
# onto one of them and onto the other four at once. Those recorders have no
# pace: each takes data as fast as tgtd can put it into its file, so the
# ratio says how well one reading of the source feeds four iSCSI sessions on
# this machine's processors and disk (the files go where the discs go), not
# how drives keep their speed. Needs root and tgtd; skipped with a message
# otherwise (BENCH_ISCSI=0 skips it too). tgtd is stopped however the
# benchmark ends.
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
tgtd_pid=
tgt_control=${BENCH_TGT_CONTROL:-57}
tgt_portal=${BENCH_TGT_PORTAL:-3297}
tgt_name=iqn.2026-12.org.varnex.bench:multi
stop_tgtd() {
  [ -n "$tgtd_pid" ] || return 0
  local adm="tgtadm -C $tgt_control --lld iscsi" tid
  for tid in 1 2 3 4 5; do $adm --mode target --op delete --force --tid "$tid" > /dev/null 2>&1 || true; done
  $adm --op update --mode sys --name State -v offline > /dev/null 2>&1 || true
  $adm --op delete --mode system > /dev/null 2>&1 || true
  # tgtd leaves once its system is deleted; one that does not is made to.
  for _ in $(seq 1 50); do kill -0 "$tgtd_pid" 2> /dev/null || break; sleep 0.1; done
  kill -9 "$tgtd_pid" 2> /dev/null || true
  wait "$tgtd_pid" 2> /dev/null || true
  tgtd_pid=
}
trap 'stop_tgtd; rm -rf "$work" "$discs"' EXIT
# A benchmark stopped by a signal goes out through the cleanup as well.
trap 'exit 130' INT
trap 'exit 143' TERM HUP

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
    if [ "$n" -gt 1 ]; then row "$n recorders at $speed $medium" "N x one recorder" "$ratio" "$kib"; fi
  done
}

run dvd+r 16x "$dvd_mb"
run cd-r 48x "$cd_mb"

# One project onto one remote recorder, then onto four at once.
remote() {  # size_mb
  local mb=$1 adm="tgtadm -C $tgt_control --lld iscsi" tid ok= one= secs kib
  if [ "${BENCH_ISCSI:-1}" = 0 ]; then echo "multi.sh: remote recorders skipped (BENCH_ISCSI=0)"; return 0; fi
  if [ "$(id -u)" != 0 ] || ! command -v tgtd > /dev/null || ! command -v tgtadm > /dev/null; then
    echo "multi.sh: remote recorders skipped: tgtd needs root and the tgt package"
    return 0
  fi
  # Another server on the portal would take the burn's connections.
  if (exec 3<> "/dev/tcp/127.0.0.1/$tgt_portal") 2> /dev/null; then
    echo "multi.sh: remote recorders skipped: port $tgt_portal is in use (BENCH_TGT_PORTAL=another)"
    return 0
  fi
  setsid tgtd -f -C "$tgt_control" --iscsi "portal=127.0.0.1:$tgt_portal" > "$work/tgtd.log" 2>&1 &
  tgtd_pid=$!
  for _ in $(seq 1 50); do
    if $adm --mode target --op new --tid 1 --targetname "$tgt_name-1" > /dev/null 2>&1; then ok=1; break; fi
    kill -0 "$tgtd_pid" 2> /dev/null || break
    sleep 0.1
  done
  for tid in 1 2 3 4 5; do
    [ -n "$ok" ] || break
    : > "$discs/remote$tid.dvd"
    { [ "$tid" = 1 ] || $adm --mode target --op new --tid "$tid" --targetname "$tgt_name-$tid"; } > /dev/null 2>&1 &&
      $adm --mode logicalunit --op new --tid "$tid" --lun 1 --device-type cd -b "$discs/remote$tid.dvd" > /dev/null 2>&1 &&
      $adm --mode target --op bind --tid "$tid" -I ALL > /dev/null 2>&1 || ok=
  done
  if [ -z "$ok" ]; then
    echo "multi.sh: remote recorders skipped: tgtd did not start ($(tail -1 "$work/tgtd.log" 2> /dev/null))"
    stop_tgtd
    return 0
  fi
  head -c $((mb << 20)) /dev/urandom > "$work/payload.bin"
  cat "$work/payload.bin" > /dev/null
  printf "%-8s %-4s %6s %8s %10s %9s %9s %7s %9s\n" medium x recs seconds MB/s vs-N*one cpu-max fed peak-MiB
  for n in 1 4; do
    drives=()
    if [ "$n" = 1 ]; then tids=1; else tids="2 3 4 5"; fi
    for tid in $tids; do drives+=(--drive "iscsi://127.0.0.1:$tgt_portal/$tgt_name-$tid/1"); done
    /usr/bin/time -f "%e %M" -o "$work/time" "$cli" burn "${drives[@]}" "$work/payload.bin" > /dev/null 2> "$work/err" ||
      { cat "$work/err"; exit 1; }
    read -r secs kib < "$work/time"
    [ -z "$one" ] && one=$secs
    cpu=$(awk '/processor time of each recorder/ { for (i = 1; i <= NF; ++i) if ($(i + 1) == "s" && $i + 0 > m) m = $i + 0 }
               END { if (NR && m != "") printf "%.2f", m; else printf "-" }' "$work/err")
    fed=$(awk '/handed to the recorders/ { gsub(/[()]/, "", $(NF - 1)); print $(NF - 1) }' "$work/err")
    ratio=$(awk -v n="$n" -v s="$secs" -v one="$one" 'BEGIN { if (s < 0.01) s = 0.01; printf "%.2f", n * one / s / n }')
    awk -v n="$n" -v s="$secs" -v mb="$mb" -v r="$ratio" -v c="$cpu" -v f="${fed:-1}" -v k="$kib" \
      'BEGIN { if (s < 0.01) s = 0.01; printf "%-8s %-4s %6d %8.2f %10.1f %8.2fx %9s %9s %9.1f\n", "iscsi", "-", n, s, n * mb / s, r, c, f, k / 1024 }'
    if [ "$n" -gt 1 ]; then row "$n remote recorders over iSCSI" "N x one recorder" "$ratio" "$kib"; fi
  done
  stop_tgtd
}

remote "$dvd_mb"
