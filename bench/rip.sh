#!/usr/bin/env bash
# Saving audio tracks, side by side in one run: MINUTES (10 by default) of
# audio on a pressed audio CD of a virtual recorder saved as an MP3 with
# "varnex-cli extract" (every sector read twice and compared, then encoded at
# 192 kb/s) against ffmpeg encoding the same WAV at the same bit rate; and the
# same track saved as a WAV against copying the WAV with cat. Varnex syncs
# what it saves before naming it, so the others' output is synced too.
# Prints seconds, peak memory and the ratios.
#
#   bench/rip.sh [MINUTES] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh  # versus
minutes=${1:-10}
bin=${2:-build}/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/varnex-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
[ -x "$bin/varnex-cli" ] || { echo "build varnex-cli first" >&2; exit 2; }
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=$((minutes * 60))" -ac 2 -ar 44100 "$work/music.wav"
"$bin/varnex-cli" virtual create --media audio --track "$work/music.wav::Bench" "$work/cd.vdisc" > /dev/null

measure() {  # name, command...: prints "name seconds peak-KiB"
  local name=$1; shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" > /dev/null 2> "$work/err" || { cat "$work/err"; exit 1; }
  echo "$name $(cat "$work/time")"
}
ratio() { python3 -c "print(f'{float($1) / max(float($2), 0.001):.2f}')"; }
seconds() { echo "$1" | cut -d' ' -f2; }

ffmpeg_mp3=$(measure ffmpeg-mp3 sh -c "ffmpeg -nostdin -v error -y -i '$work/music.wav' -c:a libmp3lame -b:a 192k '$work/hand.mp3' && sync '$work/hand.mp3'")
ours_mp3=$(measure extract-mp3 "$bin/varnex-cli" extract --drive "virtual:$work/cd.vdisc" --track 1 -o "$work/ours.mp3")
cat_wav=$(measure cat-wav sh -c "cat '$work/music.wav' > '$work/copy.wav' && sync '$work/copy.wav'")
ours_wav=$(measure extract-wav "$bin/varnex-cli" extract --drive "virtual:$work/cd.vdisc" --track 1 -o "$work/ours.wav")

printf '%-12s %8s %10s\n' what seconds peak-KiB
for r in "$ffmpeg_mp3" "$ours_mp3" "$cat_wav" "$ours_wav"; do printf '%-12s %8s %10s\n' $r; done
for f in hand.mp3 ours.mp3; do
  echo "$f: $(ffprobe -v error -show_entries format=duration,bit_rate -of csv=p=0 "$work/$f")"
done
echo "extract to MP3 / ffmpeg encoding the WAV: $(ratio "$(seconds "$ours_mp3")" "$(seconds "$ffmpeg_mp3")")"
echo "extract to WAV / cat of the WAV: $(ratio "$(seconds "$ours_wav")" "$(seconds "$cat_wav")")"
versus "extract to MP3, $minutes min" "ffmpeg encoding the WAV + sync" "$ours_mp3" "$ffmpeg_mp3"
versus "extract to WAV" "cat of the WAV + sync" "$ours_wav" "$cat_wav"
