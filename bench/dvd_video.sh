#!/usr/bin/env bash
# DVD-Video authoring, side by side in one run: MINUTES (2 by default) of
# video made into a DVD-Video image by "varnex-cli video --dvd" against the
# same ffmpeg and dvdauthor commands run by hand (and the image made of the
# folder with genisoimage). The tools do the work, so the goal is a ratio
# within 1.1. Prints seconds, peak memory and the ratio.
#
#   bench/dvd_video.sh [MINUTES] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh  # versus
minutes=${1:-2}
bin=${2:-build}/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/varnex-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The command name in one place: the lead routes "video --dvd" here.
dvd_command=(video --dvd)
seconds=$((minutes * 60))
ffmpeg -nostdin -v error -f lavfi -i "testsrc=duration=$seconds:size=640x480:rate=25" \
  -f lavfi -i "sine=duration=$seconds" -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest "$work/film.mp4"

measure() {  # name, command...: prints "name seconds peak-KiB"
  local name=$1; shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" > /dev/null 2> "$work/err" || { cat "$work/err"; exit 1; }
  echo "$name $(cat "$work/time")"
}
ratio() { python3 -c "print(f'{float($1) / max(float($2), 0.001):.2f}')"; }

by_hand=$(measure "by-hand" sh -c "
  ffmpeg -nostdin -v error -y -i 'file:$work/film.mp4' -f dvd -target pal-dvd -b 5000k -r 25 -aspect 4:3 \
    -s 720x576 -ar 48000 -ab 384k 'file:$work/0.mpg' &&
  mkdir -p '$work/hand' &&
  printf '%s\n%s\n%s' '<?xml version=\"1.0\" encoding=\"UTF-8\"?>' '<dvdauthor dest=\"$work/hand/\">' \
    '<vmgm><fpc>if (g0 == 1) { jump title 1; } jump title 1;</fpc><menus lang=\"en\"><video aspect=\"4:3\" format=\"pal\" /></menus></vmgm><titleset><titles><audio lang=\"EN\" format=\"ac3\" channels=\"2\" /><video format=\"pal\" aspect=\"4:3\" /><pgc><pre></pre><vob file=\"$work/0.mpg\" chapters=\"0:00\"  /><post></post></pgc></titles></titleset></dvdauthor>' > '$work/1.XML' &&
  dvdauthor -x '$work/1.XML' &&
  genisoimage -quiet -dvd-video -udf -o '$work/hand.iso' '$work/hand'")
ours=$(measure "varnex-cli" "$bin/varnex-cli" "${dvd_command[@]}" --drive "image:$work/ours.iso" --medium dvd-r \
  "$work/film.mp4")

printf '%-12s %8s %10s\n' what seconds peak-KiB
for r in "$by_hand" "$ours"; do printf '%-12s %8s %10s\n' $r; done
echo "varnex-cli / by hand: $(ratio "$(echo "$ours" | cut -d' ' -f2)" "$(echo "$by_hand" | cut -d' ' -f2)")"
lsdvd "$work/ours.iso" 2>/dev/null | grep '^Title' || true
versus "DVD-Video image" "ffmpeg + dvdauthor + genisoimage" "$ours" "$by_hand"
