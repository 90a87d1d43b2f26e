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

# median RESULT...: one "label seconds peakKiB" from the results of several
# rounds of one command (as measure prints them): the median seconds and the
# largest peak. On a shared machine one round says more of the neighbours
# than of the programs.
median() {
  python3 - "$@" <<'PY'
import statistics, sys
rows = [a.split() for a in sys.argv[1:]]
print(rows[0][0], f"{statistics.median(float(r[1]) for r in rows):.2f}", max(int(r[2]) for r in rows))
PY
}

# row WHAT VERSUS RATIO PEAK_KIB: one line of the table bench/all.sh prints
# ("row|what|compared with|ratio|peak memory"), ignored when a benchmark runs
# on its own.
row() {
  printf 'row|%s|%s|%s|%s\n' "$1" "$2" "$3" "$(awk -v k="$4" 'BEGIN { if (k == "" || k == "-") print "-"; else printf "%.1f MiB", k / 1024 }')"
}

# versus WHAT AGAINST OURS THEIRS: a table row from two "label seconds
# peak-KiB" results (as measure prints them): our seconds over theirs, our
# memory.
versus() {
  local ours=($3) theirs=($4)
  row "$1" "$2" "$(awk -v a="${ours[1]}" -v b="${theirs[1]}" 'BEGIN { if (b < 0.01) b = 0.01; printf "%.2f", a / b }')" "${ours[2]}"
}
