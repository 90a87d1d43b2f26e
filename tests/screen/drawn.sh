#!/usr/bin/env bash
# Starts Varnex on a virtual X server, once under a window manager and once
# without one, photographs the real screen and checks that the main window's
# whole area is drawn (not only the corners of a badly cut window shape).
#
#   tests/screen/drawn.sh BINDIR
set -euo pipefail
bin=$(realpath "$1")
for tool in Xvfb xdotool import compare openbox; do
  command -v "$tool" >/dev/null || { echo "drawn.sh: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The server picks a free display itself and writes its number once it
# accepts connections, so that runs side by side never share a screen.
# -noreset: without a window manager the screenshot tool is the only client,
# and a server that resets when it leaves refuses the program that comes next.
start_server() {
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "drawn.sh: the X server did not start"; cat "$work/xvfb.log"; exit 1; }
  export DISPLAY=":$(head -1 "$work/display")"
}

# The share of the window's pixels that differ from the empty screen, in per cent.
drawn_share() {
  local before=$1 after=$2 geometry=$3 w h differing
  w=${geometry%%x*}; h=${geometry#*x}; h=${h%%+*}
  convert "$before" -crop "$geometry" +repage "$work/a.png"
  convert "$after" -crop "$geometry" +repage "$work/b.png"
  # compare exits 1 when the pictures differ, which is what we hope for.
  differing=$(compare -metric AE -fuzz 2% "$work/a.png" "$work/b.png" null: 2>&1 || true)
  differing=${differing%% *}
  [[ "$differing" =~ ^[0-9.e+]+$ ]] || { echo "drawn.sh: compare failed: $differing" >&2; echo 0; return; }
  differing=$(printf '%.0f' "$differing")
  echo $(( differing * 100 / (w * h) ))
}

run_case() {
  local name=$1 wm=$2 fontdpi=${3:-96}
  start_server
  if [ "$wm" = yes ]; then
    openbox >"$work/wm.log" 2>&1 &
    pids+=($!)
    sleep 0.5
  fi
  import -window root "$work/empty.png"
  export VARNEX_PROGRAM_DIR="$bin/" HOME="$work/home-$name" XDG_RUNTIME_DIR="$work/run-$name"
  export XDG_CONFIG_HOME="$work/home-$name/.config" XDG_DATA_HOME="$work/home-$name/.local/share"
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
  QT_FONT_DPI=$fontdpi "$bin/Varnex" --no-splash --virtual "$work/$name.vdisc:cd-rw" >"$work/varnex-$name.log" 2>&1 &
  local app=$!
  pids+=($app)
  local window="" geometry="" share=0 previous=-1 steady=0
  # Wait for the window to be mapped, then until its paint reaches the screen
  # or the screen stops changing (what is there then is what a user sees).
  for _ in $(seq 300); do
    kill -0 "$app" 2>/dev/null || { echo "drawn.sh ($name): Varnex ended"; cat "$work/varnex-$name.log"; echo "--- X server:"; cat "$work/xvfb.log"; exit 1; }
    window=$(xdotool search --onlyvisible --name '^Varnex' 2>/dev/null | head -1 || true)
    if [ -n "$window" ]; then
      eval "$(xdotool getwindowgeometry --shell "$window")"
      geometry="${WIDTH}x${HEIGHT}+${X}+${Y}"
      import -window root "$work/$name.png"
      share=$(drawn_share "$work/empty.png" "$work/$name.png" "$geometry")
      [ "$share" -ge 90 ] && break
      if [ "$share" -eq "$previous" ]; then steady=$((steady + 1)); else steady=0; fi
      previous=$share
      [ "$steady" -ge 100 ] && break
    fi
    sleep 0.2
  done
  if [ -z "$window" ]; then echo "drawn.sh ($name): no Varnex window appeared"; exit 1; fi
  echo "drawn.sh ($name): window $geometry, ${share}% of its area drawn"
  # The whole window is on the 1280x800 screen, whatever the text scale.
  if [ $((X + WIDTH)) -gt 1280 ] || [ $((Y + HEIGHT)) -gt 800 ] || [ "$X" -lt 0 ] || [ "$Y" -lt 0 ]; then
    echo "drawn.sh ($name): the window $geometry does not fit the 1280x800 screen"
    exit 1
  fi
  if [ "$share" -lt 90 ]; then
    cp "$work/$name.png" "${TMPDIR:-/tmp}/varnex-drawn-$name.png" || true
    echo "drawn.sh ($name): the window is not drawn (screen kept in ${TMPDIR:-/tmp}/varnex-drawn-$name.png)"
    exit 1
  fi
  kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
}

run_case with-wm yes
run_case without-wm no
# 150 % text: the toolkit scales the window by the font resolution.
run_case large-text yes 144
echo "drawn.sh: the main window is drawn with and without a window manager, and fits the screen at 150 % text"
