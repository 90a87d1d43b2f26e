# Shared by the layout benchmarks: the trees they lay out and the timing.
# Expects $work to name the benchmark's scratch folder.

# prepare_trees LARGE_MB: $work/large (4 random files of LARGE_MB MiB) and
# $work/small (prepare_small_tree).
prepare_trees() {
  local large_mb=$1
  rm -rf "$work"; mkdir -p "$work/large"
  echo "preparing trees in $work ..."
  for i in 1 2 3 4; do head -c $((large_mb << 20)) /dev/urandom > "$work/large/part$i.bin"; done
  prepare_small_tree "$work/small"
}

# prepare_small_tree FOLDER: 20,000 files of 200 to 4,000 bytes in 200 folders.
prepare_small_tree() {
  mkdir -p "$1"
  python3 - "$1" <<'PY'
import os, sys, random
root = sys.argv[1]
random.seed(1)
for d in range(200):
    folder = os.path.join(root, f"folder{d:03d}")
    os.makedirs(folder)
    for f in range(100):
        with open(os.path.join(folder, f"file{f:03d}.txt"), "wb") as out:
            out.write(os.urandom(random.randint(200, 4000)))
PY
}

measure() {  # label, command...; prints "label seconds peakKiB"
  local label=$1; shift
  sync; /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" || { cat "$work/err.txt"; exit 1; }
  read -r secs kib < "$work/time.txt"
  echo "$label $secs $kib"
}
