#!/usr/bin/env bash
# Builds the Debian package varnex_<version>_<arch>.deb into the current
# folder (or OUTDIR) and checks it with lintian.
#
#   scripts/package.sh [OUTDIR]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath "${1:-.}")
"$src/scripts/install-deps.sh"
build="$src/build-package"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVARNEX_INSTALL_RPATH=OFF -DVARNEX_TESTS=OFF >/dev/null
cmake --build "$build" -j"${VARNEX_BUILD_JOBS:-$(nproc)}"
(cd "$build" && cpack -G DEB -B "$build/package" >/dev/null)
deb=$(ls "$build"/package/varnex_*.deb)
cp "$deb" "$out/"
deb="$out/$(basename "$deb")"
echo "package.sh: $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
# lintian: errors fail the package; warnings are shown.
lintian --no-tag-display-limit "$deb" || { echo "package.sh: lintian found errors"; exit 1; }
