#!/usr/bin/env bash
# Builds the ISO 9660 / Joliet reader fuzzer (clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer), makes seeds from images of
# our own writer, genisoimage and xorriso (cut to start at sector 16), and
# fuzzes for SECONDS seconds (default 300).
#   fuzz/run-iso.sh [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-300}
build=$root/build-fuzz
work=$(mktemp -d "${TMPDIR:-/tmp}/VarnexFuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DVARNEX_FUZZ=ON -DVARNEX_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j1 --target iso_reader_fuzzer >/dev/null
cli=$root/build/bin/varnex-cli
if [ ! -x "$cli" ]; then
  cmake --build "$build" -j1 --target varnex-cli >/dev/null
  cli=$build/bin/varnex-cli
fi

mkdir -p "$work/src/sub/deeper" "$work/seeds" "$work/corpus"
echo hello > "$work/src/a.txt"; : > "$work/src/empty"
head -c 9000 /dev/urandom > "$work/src/sub/b.bin"
echo x > "$work/src/sub/deeper/Ünï ✓.txt"
"$cli" image -o "$work/own.iso" "$work/src" >/dev/null
genisoimage -quiet -J -o "$work/gen-j.iso" "$work/src"
genisoimage -quiet -o "$work/gen.iso" "$work/src"
xorriso -as mkisofs -quiet -J -o "$work/xorr.iso" "$work/src" 2>/dev/null
for image in "$work"/*.iso; do
  tail -c +$((16 * 2048 + 1)) "$image" > "$work/seeds/$(basename "$image").seed"
done
"$build/bin/iso_reader_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
  -max_len=200000 "$work/corpus" "$work/seeds"
