#!/usr/bin/env bash
# 10,000 files handed over by the file manager's context menu (VarnexShell
# data FILE...) to a running main window, on the offscreen platform: the time
# from the hand-over's start to the last reply, and the paths a second, next
# to find listing the same files.
# Usage: bench/handover.sh [BUILDDIR] [COUNT]
set -euo pipefail
build=$(readlink -f "${1:-build}")
source "$(dirname "$0")/lib.sh"  # row
count=${2:-10000}
work=$(mktemp -d "${TMPDIR:-/var/tmp}/varnex-handover-bench.XXXXXX")
pid=
cleanup() { [[ -n $pid ]] && kill "$pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/files" "$work/runtime" "$work/home"
chmod 700 "$work/runtime"
python3 - "$work/files" "$count" <<'PY'
import os, sys
for i in range(int(sys.argv[2])):
    with open(os.path.join(sys.argv[1], f"file{i:05d}.txt"), "wb") as out:
        out.write(b"x" * 100)
PY
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export QT_QPA_PLATFORM=offscreen
"$build/bin/Varnex" >"$work/varnex.log" 2>&1 &
pid=$!
for _ in $(seq 100); do [[ -S $work/runtime/varnex/handover ]] && break; sleep 0.2; done
[[ -S $work/runtime/varnex/handover ]] || { cat "$work/varnex.log"; echo "the window did not listen" >&2; exit 1; }
cd "$work/files"
start=$(date +%s.%N)
timeout 600 "$build/bin/VarnexShell" data file*.txt || { echo "VarnexShell failed (status $?)" >&2; tail -5 "$work/varnex.log" >&2; exit 1; }
end=$(date +%s.%N)
fstart=$(date +%s.%N)
find "$work/files" -type f >/dev/null
fend=$(date +%s.%N)
python3 - "$count" "$start" "$end" "$fstart" "$fend" <<'PY'
import sys
n = int(sys.argv[1]); s, e, fs, fe = map(float, sys.argv[2:])
print(f"hand-over of {n} paths: {e - s:.2f} s ({n / (e - s):.0f} paths/s); find: {fe - fs:.3f} s")
PY
row "hand-over of $count paths to the window" "find" "$(awk -v a="$(awk -v s="$start" -v e="$end" 'BEGIN{print e - s}')" -v b="$(awk -v s="$fstart" -v e="$fend" 'BEGIN{print e - s}')" 'BEGIN { if (b < 0.001) b = 0.001; printf "%.2f", a / b }')" -
