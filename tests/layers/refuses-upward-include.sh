#!/usr/bin/env bash
# The layer check passes the source tree as it is and refuses a tree in which
# a lower layer includes a higher one, an outside library includes the
# system, or folders of one layer include each other in a circle, naming the
# file and the include.
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
rm -r "$work/newfolder"

# Angle brackets name the same files as quotes.
echo '#include <BurnCtrl/Engine.h>' >> "$work/authoring/Layout.h"
expect_refusal "authoring/Layout.h includes BurnCtrl/Engine.h"
sed -i '$d' "$work/authoring/Layout.h"

# The Qt widgets of controls/ belong to the windows, not the foundation.
mkdir -p "$work/controls" "$work/app/ui"
echo '#pragma once' > "$work/controls/Button.h"
echo '#include "controls/Button.h"' > "$work/app/ui/Window.cpp"
python3 "$check" "$work" || { echo "a window may use the controls"; exit 1; }
echo '#include "controls/Button.h"' > "$work/foundation/Menu.cpp"
expect_refusal "foundation/Menu.cpp includes controls/Button.h: the foundation layer may not include the windows layer"
rm "$work/foundation/Menu.cpp"

# The Tamsin generator links the project library and nothing above it.
mkdir -p "$work/outside/Tamsin"
echo '#include "authoring/Layout.h"' > "$work/outside/Tamsin/Gen.cpp"
python3 "$check" "$work" || { echo "the Tamsin generator may use the project layer"; exit 1; }
echo '#include "BurnCtrl/Engine.h"' >> "$work/outside/Tamsin/Gen.cpp"
expect_refusal "outside/Tamsin/Gen.cpp includes BurnCtrl/Engine.h"
rm "$work/outside/Tamsin/Gen.cpp"

# Fragments are read like sources: by their name, or because a source
# includes them.
for fragment in Tables.inc Body.ipp; do
  echo '#include "BurnCtrl/Engine.h"' > "$work/authoring/$fragment"
  expect_refusal "authoring/$fragment includes BurnCtrl/Engine.h"
  rm "$work/authoring/$fragment"
done
echo '#include "BurnCtrl/Engine.h"' > "$work/authoring/Codes.def"
echo '#include "authoring/Codes.def"' > "$work/authoring/Codes.cpp"
expect_refusal "authoring/Codes.def includes BurnCtrl/Engine.h"
rm "$work/authoring/Codes.def" "$work/authoring/Codes.cpp"

# Two folders of one layer may not include each other in a circle.
mkdir -p "$work/media"
echo '#include "BurnCtrl/Engine.h"' > "$work/media/Audio.h"
python3 "$check" "$work" || { echo "one folder of a layer may use another"; exit 1; }
echo '#include "media/Audio.h"' >> "$work/BurnCtrl/Engine.h"
expect_refusal "BurnCtrl and media include each other in a circle within the engine layer"
expect_refusal "media/Audio.h includes BurnCtrl/Engine.h"
expect_refusal "BurnCtrl/Engine.h includes media/Audio.h"
echo "refuses-upward-include: the layers hold and every kind of breach is refused"
