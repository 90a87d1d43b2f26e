#!/usr/bin/env bash
# Builds the UDF reader fuzzer (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer), makes seeds from volumes of our own writer,
# genisoimage and mkudffs, and fuzzes for SECONDS seconds (default 300).
#   fuzz/run-udf.sh [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-300}
build=$root/build-fuzz
work=$(mktemp -d "${TMPDIR:-/tmp}/VarnexFuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DVARNEX_FUZZ=ON -DVARNEX_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target udf_reader_fuzzer >/dev/null
cli=$root/build/bin/varnex-cli
if [ ! -x "$cli" ]; then
  cmake --build "$build" -j2 --target varnex-cli >/dev/null
  cli=$build/bin/varnex-cli
fi

mkdir -p "$work/src/sub/deeper" "$work/seeds" "$work/corpus"
echo hello > "$work/src/a.txt"; : > "$work/src/empty"
head -c 9000 /dev/urandom > "$work/src/sub/b.bin"
echo x > "$work/src/sub/deeper/Ünï ✓.txt"
"$cli" image --udf -o "$work/own.iso" "$work/src" >/dev/null
genisoimage -quiet -udf -o "$work/gen.iso" "$work/src"
mkudffs --media-type=cdr -r 2.01 --new-file "$work/vat.img" 3000 >/dev/null
mkudffs --media-type=cdrw -r 2.01 --new-file "$work/spar.img" 3000 >/dev/null
mkudffs --media-type=bdr -r 2.50 --new-file "$work/bdr.img" 3000 >/dev/null
mkudffs --media-type=hd -b 2048 -r 2.01 --ad=long --new-file "$work/long.img" 3000 >/dev/null
for image in "$work"/*.iso "$work"/*.img; do
  python3 "$here/make_seed.py" "$image" "$work/seeds/$(basename "$image").seed"
done
"$build/bin/udf_reader_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
  -max_len=1000000 "$work/corpus" "$work/seeds"
