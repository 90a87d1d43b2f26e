#!/usr/bin/env bash
# Puts single-line faults (mutants) into the product code one at a time and
# shows which of them the tests catch. Run by hand, not by CI: it rebuilds
# once per mutant.
#
#   scripts/mutants.sh [--rev REV] [--list FILE] [--check] [NAME...]
#
#   --rev REV   test the tree of commit REV instead of the working tree (the
#               mutants still come from the list of the working tree)
#   --list FILE the mutant list (default scripts/mutants.list)
#   --check     only show that every mutant of the list applies to the tree
#   NAME...     only these mutants
#
# The tree is copied to a scratch folder (build-mutants/src, or
# $VARNEX_MUTANT_DIR/src) that is kept between runs together with its build
# folder, so that each mutant costs an incremental build. Builds run with one
# job (VARNEX_BUILD_JOBS to change it) and ccache when it is installed. The
# test program runs in VARNEX_TEST_SHARDS shards side by side (4), each with a
# limit of VARNEX_MUTANT_TEST_SECONDS (900), and with TMPDIR inside the
# scratch folder, so that a mutant that writes where it must not cannot reach
# the system's temporary folder.
#
# A mutant is caught when a test run fails (or runs past its time limit).
# The run stops with an error when the unchanged tree fails its tests or a
# mutant's original text is not found exactly once where the list says.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

rev="" list="scripts/mutants.list" check=0
only=()
while [ $# -gt 0 ]; do
  case "$1" in
    --rev) rev=$2; shift 2 ;;
    --list) list=$2; shift 2 ;;
    --check) check=1; shift ;;
    -h|--help) sed -n '2,25p' "$0"; exit 0 ;;
    -*) echo "mutants.sh: unknown option $1" >&2; exit 2 ;;
    *) only+=("$1"); shift ;;
  esac
done
[ -f "$list" ] || { echo "mutants.sh: no mutant list at $list" >&2; exit 2; }
list=$(realpath "$list")

scratch=$(realpath -m "${VARNEX_MUTANT_DIR:-$repo/build-mutants}")
src=$scratch/src
build=$src/build
jobs=${VARNEX_BUILD_JOBS:-1}
test_limit=${VARNEX_MUTANT_TEST_SECONDS:-900}
shards=${VARNEX_TEST_SHARDS:-4}
mkdir -p "$scratch"

# --- the scratch copy of the tree -------------------------------------------
# Only files whose content differs from the last run's copy are written, so
# that the kept build folder rebuilds no more than that.
export_tree() {
  local from=$scratch/export
  rm -rf "$from"
  mkdir -p "$from" "$src"
  if [ -n "$rev" ]; then
    git archive "$rev" | tar -x -C "$from"
  else
    git ls-files -z --cached --others --exclude-standard |
      tar --null --no-recursion -T - -cf - | tar -x -C "$from"
  fi
  python3 - "$from" "$src" <<'EOF'
import filecmp, os, shutil, sys
new, old = sys.argv[1:3]
keep = set()
for root, dirs, files in os.walk(new):
    rel = os.path.relpath(root, new)
    os.makedirs(os.path.join(old, rel), exist_ok=True)
    for name in files:
        a, b = os.path.join(root, name), os.path.normpath(os.path.join(old, rel, name))
        keep.add(b)
        if os.path.islink(a) or not os.path.isfile(b) or not filecmp.cmp(a, b, shallow=False):
            if os.path.lexists(b):
                os.remove(b)
            # A new time, never the source's: an older time than the kept
            # object's would leave the object of the last run in place.
            if os.path.islink(a):
                os.symlink(os.readlink(a), b)
            else:
                shutil.copy(a, b)
for root, dirs, files in os.walk(old):
    if root == old and "build" in dirs:
        dirs.remove("build")
    for name in files:
        b = os.path.normpath(os.path.join(root, name))
        if b not in keep:
            os.remove(b)
EOF
  rm -rf "$from"
}

# --- applying one mutant ----------------------------------------------------
# apply FILE CONTEXT ORIGINAL REPLACEMENT: with CONTEXT "-" the original text
# must occur exactly once in FILE; otherwise CONTEXT must, and the original
# is replaced at its first occurrence from the start of the context's line.
apply() {
  python3 - "$@" <<'EOF'
import sys
path, context, original, replacement = sys.argv[1:5]
try:
    text = open(path, encoding="utf-8").read()
except OSError as e:
    sys.exit(f"cannot read {path}: {e.strerror}")
if context == "-":
    count = text.count(original)
    if count != 1:
        sys.exit(f"{path}: the original text occurs {count} times, not once: {original!r}")
    at = text.index(original)
else:
    count = text.count(context)
    if count != 1:
        sys.exit(f"{path}: the context occurs {count} times, not once: {context!r}")
    at = text.find(original, text.rfind("\n", 0, text.index(context)) + 1)
    if at < 0:
        sys.exit(f"{path}: the original text is not found after its context: {original!r}")
open(path, "w", encoding="utf-8").write(text[:at] + replacement + text[at + len(original):])
EOF
}

# The list: name, file, context, original, replacement, tests ("core" or
# "core+window"), separated by tabs; blank lines and lines starting with #
# are skipped.
names=() files=() contexts=() originals=() replacements=() suites=()
while IFS=$'\t' read -r name file context original replacement suite rest; do
  case "$name" in ''|'#'*) continue ;; esac
  if [ -z "${replacement+x}" ] || [ -z "$original" ] || [ -n "${rest:-}" ]; then
    echo "mutants.sh: malformed line for $name in $list" >&2; exit 2
  fi
  if [ ${#only[@]} -gt 0 ] && [[ ! " ${only[*]} " == *" $name "* ]]; then continue; fi
  names+=("$name") files+=("$file") contexts+=("$context") originals+=("$original")
  replacements+=("$replacement") suites+=("${suite:-core}")
done < "$list"
[ ${#names[@]} -gt 0 ] || { echo "mutants.sh: no mutants selected" >&2; exit 2; }

echo "mutants.sh: copying the tree${rev:+ of $rev} to $src"
export_tree

# Every mutant must apply before anything is built.
for i in "${!names[@]}"; do
  f=$src/${files[$i]}
  cp -p "$f" "$scratch/original"
  if ! apply "$f" "${contexts[$i]}" "${originals[$i]}" "${replacements[$i]}"; then
    echo "mutants.sh: mutant ${names[$i]} does not apply" >&2; exit 2
  fi
  cp -p "$scratch/original" "$f"
done
if [ $check = 1 ]; then
  echo "mutants.sh: all ${#names[@]} mutants apply"
  exit 0
fi

need_window=0
for s in "${suites[@]}"; do [[ $s == *window* ]] && need_window=1; done

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null

# build_tests SUITE: the test programs the suite runs.
build_tests() {
  local t targets=(varnex_tests)
  [[ $1 == *window* ]] && targets+=(varnex_window_tests)
  for t in "${targets[@]}"; do
    cmake --build "$build" -j"$jobs" --target "$t" >"$scratch/build.log" 2>&1 || return 1
  done
}

# run_tests SUITE: 0 when every test passed.
run_tests() {
  local tmp=$scratch/tmp/a/b/c status=0
  rm -rf "$scratch/tmp"
  mkdir -p "$tmp"
  # Most of the tests' time is spent waiting on drives and tools, not on the
  # processor: shards of the test program run side by side.
  local shard pids=()
  for ((shard = 0; shard < shards; shard++)); do
    GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard TMPDIR=$tmp timeout "$test_limit" \
      "$build/bin/varnex_tests" --gtest_brief=1 --gtest_fail_fast >"$scratch/test-$shard.log" 2>&1 &
    pids+=($!)
  done
  for shard in "${!pids[@]}"; do
    local s=0
    wait "${pids[$shard]}" || s=$?
    [ $status = 0 ] && status=$s
  done
  cat "$scratch"/test-*.log >"$scratch/test.log"
  rm -f "$scratch"/test-*.log
  if [ $status = 0 ] && [[ $1 == *window* ]]; then
    (cd "$build" && TMPDIR=$tmp QT_QPA_PLATFORM=offscreen VARNEX_PROGRAM_DIR="$build/bin/" \
      timeout "$test_limit" bin/varnex_window_tests) >>"$scratch/test.log" 2>&1 || status=$?
  fi
  echo "$status" >"$scratch/status"
  rm -rf "$scratch/tmp"
  return $status
}

echo "mutants.sh: building and testing the unchanged tree"
baseline=core
[ $need_window = 1 ] && baseline=core+window
build_tests $baseline || { echo "mutants.sh: the unchanged tree does not build; see $scratch/build.log" >&2; exit 1; }
run_tests $baseline ||
  { echo "mutants.sh: the unchanged tree fails its tests; see $scratch/test.log" >&2; exit 1; }

caught=0 missed=()
for i in "${!names[@]}"; do
  f=$src/${files[$i]}
  cp -p "$f" "$scratch/original"
  apply "$f" "${contexts[$i]}" "${originals[$i]}" "${replacements[$i]}"
  start=$SECONDS
  if ! build_tests "${suites[$i]}"; then
    cp "$scratch/original" "$f"
    echo "mutants.sh: mutant ${names[$i]} does not compile; see $scratch/build.log" >&2
    exit 1
  fi
  if run_tests "${suites[$i]}"; then
    verdict="NOT CAUGHT"
    missed+=("${names[$i]}")
  else
    caught=$((caught + 1))
    case $(cat "$scratch/status") in
      124) verdict="caught (the tests ran past ${test_limit} s)" ;;
      1) verdict="caught" ;;
      *) verdict="caught (the tests crashed: status $(cat "$scratch/status"))" ;;
    esac
    if grep -q "^\[  FAILED  \]" "$scratch/test.log"; then
      verdict="caught by $(grep -m1 '^\[  FAILED  \]' "$scratch/test.log" | sed 's/^\[  FAILED  \] //; s/ (.*//')"
    elif grep -q " left behind in the temporary folder" "$scratch/test.log"; then
      verdict="caught by $(grep -m1 ' left behind in the temporary folder' "$scratch/test.log" | sed 's/ left behind.*//') (left files behind)"
    elif grep -q "^FAIL!" "$scratch/test.log"; then
      verdict="caught by $(grep -m1 '^FAIL!' "$scratch/test.log" | sed 's/^FAIL!  : //; s/ .*//')"
    fi
  fi
  # The original goes back with a new time, so that the next build compiles
  # it again (from ccache) instead of keeping the mutant's object.
  cp "$scratch/original" "$f"
  printf '%-28s %-11s %4ds  %s\n' "${names[$i]}" "${files[$i]##*/}" $((SECONDS - start)) "$verdict"
done
total=${#names[@]}
echo "caught $caught of $total ($((100 * caught / total)) %)"
[ ${#missed[@]} -eq 0 ] || echo "not caught: ${missed[*]}"
