#!/usr/bin/env bash
# The main job on the bundled sample: lay data/sample out as a disc image and
# let an independent reader list it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
out=build/sample.iso
build/bin/varnex-cli image -o "$out" --label "VarnexSample" data/sample/*
echo "== $out, as isoinfo reads its Joliet tree:"
isoinfo -J -l -i "$out"
