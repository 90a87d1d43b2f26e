#!/usr/bin/env bash
# The layer check passes the source tree as it is and refuses a tree in which
# a lower layer includes a higher one, or an outside library includes the
# system, naming the file and the include.
#
#   tests/layers/refuses-upward-include.sh SOURCE_ROOT
set -euo pipefail
root=$(realpath "$1")
check="$root/scripts/check-layers.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 "$check" "$root" || { echo "the source tree itself breaks the layers"; exit 1; }

mkdir -p "$work/authoring" "$work/BurnCtrl" "$work/foundation" "$work/outside/Kestrine"
echo '#include "foundation/Base.h"' > "$work/authoring/Layout.h"
echo '#pragma once' > "$work/foundation/Base.h"
echo '#include "authoring/Layout.h"' > "$work/BurnCtrl/Engine.cpp"
python3 "$check" "$work" || { echo "a downward include was refused"; exit 1; }

expect_refusal() {
  local what=$1 output
  if output=$(python3 "$check" "$work" 2>&1); then
    echo "not refused: $what"; exit 1
  fi
  grep -qF "$what" <<<"$output" || { echo "the refusal does not name $what:"; echo "$output"; exit 1; }
}

echo '#include "BurnCtrl/Engine.h"' >> "$work/authoring/Layout.h"
echo '#pragma once' > "$work/BurnCtrl/Engine.h"
expect_refusal "authoring/Layout.h includes BurnCtrl/Engine.h"
sed -i '$d' "$work/authoring/Layout.h"

echo '#include "foundation/Base.h"' > "$work/outside/Kestrine/Dev.cpp"
expect_refusal "outside/Kestrine/Dev.cpp includes foundation/Base.h"
rm "$work/outside/Kestrine/Dev.cpp"

mkdir -p "$work/newfolder" && touch "$work/newfolder/x.cpp"
expect_refusal "newfolder/x.cpp: its folder belongs to no layer"
echo "refuses-upward-include: the layers hold and every kind of breach is refused"
