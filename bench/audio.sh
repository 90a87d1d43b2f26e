#!/usr/bin/env bash
# Audio CDs, side by side in one run: converting MINUTES (10 by default) of
# MP3 to a CD WAV through CAVConvert against ffmpeg run by hand, and the
# whole "varnex-cli audio burn" onto a virtual CD-R against the conversion
# by hand followed by "varnex-cli burn --audio". Prints seconds, peak memory
# and the ratios.
#
#   bench/audio.sh [MINUTES] [BUILD_DIR]   (the build needs -DVARNEX_BENCH=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh  # versus
minutes=${1:-10}
bin=${2:-build}/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/varnex-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
[ -x "$bin/varnex_convert_bench" ] || { echo "build with -DVARNEX_BENCH=ON first" >&2; exit 2; }
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=$((minutes * 60))" -ac 2 -b:a 192k "$work/music.mp3"

measure() {  # name, command...: prints "name seconds peak-KiB"
  local name=$1; shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" > /dev/null 2> "$work/err" || { cat "$work/err"; exit 1; }
  echo "$name $(cat "$work/time")"
}
ratio() { python3 -c "print(f'{float($1) / max(float($2), 0.001):.2f}')"; }

by_hand=$(measure ffmpeg ffmpeg -nostdin -v error -y -i "$work/music.mp3" -vn -ar 44100 -ac 2 "$work/hand.wav")
ours=$(measure CAVConvert "$bin/varnex_convert_bench" "$work/music.mp3" "$work/ours.wav")
cmp -s <(tail -c +100 "$work/hand.wav") <(tail -c +100 "$work/ours.wav") || echo "note: the two WAVs differ"

"$bin/varnex-cli" virtual create --media cd-r "$work/a.vdisc" > /dev/null
"$bin/varnex-cli" virtual create --media cd-r "$work/b.vdisc" > /dev/null
whole=$(measure "audio-burn" "$bin/varnex-cli" audio burn --drive "virtual:$work/a.vdisc" "$work/music.mp3")
separate=$(measure "ffmpeg+burn" sh -c "ffmpeg -nostdin -v error -y -i '$work/music.mp3' -vn -ar 44100 -ac 2 -f wav -bitexact '$work/sep.wav' &&
  '$bin/varnex-cli' burn --drive 'virtual:$work/b.vdisc' --audio '$work/sep.wav'")

printf '%-12s %8s %10s\n' what seconds peak-KiB
for r in "$by_hand" "$ours" "$whole" "$separate"; do printf '%-12s %8s %10s\n' $r; done
echo "CAVConvert / ffmpeg by hand: $(ratio "$(echo "$ours" | cut -d' ' -f2)" "$(echo "$by_hand" | cut -d' ' -f2)")"
echo "audio burn / (ffmpeg + burn --audio): $(ratio "$(echo "$whole" | cut -d' ' -f2)" "$(echo "$separate" | cut -d' ' -f2)")"
versus "MP3 to CD WAV, $minutes min" "ffmpeg" "$ours" "$by_hand"
versus "audio burn from MP3" "ffmpeg + burn --audio" "$whole" "$separate"
