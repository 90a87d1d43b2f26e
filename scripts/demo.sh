#!/usr/bin/env bash
# The main job on the bundled sample: burn data/sample onto a virtual
# recorder with a blank CD-R in it, export the disc and let independent
# readers check that every file came back as it was.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
cli=build/bin/varnex-cli
work=build/demo
rm -rf "$work" && mkdir -p "$work"
"$cli" virtual create --media cd-r "$work/sample.vdisc"
"$cli" burn --drive "virtual:$work/sample.vdisc" --label VarnexSample data/sample/*
"$cli" disc-info --drive "virtual:$work/sample.vdisc"
"$cli" virtual export --drive "virtual:$work/sample.vdisc" -o "$work/sample.iso"
echo "== the burnt disc, as isoinfo reads its Joliet tree:"
isoinfo -J -l -i "$work/sample.iso"
7zz x -y -o"$work/readback" "$work/sample.iso" >/dev/null
diff -r data/sample "$work/readback" && echo "== every file read back equals its source"
