#!/usr/bin/env bash
# Line coverage of src/ by the whole suite, per layer (src/<layer>/) and in total. Builds the
# program and the tests with gcc's --coverage and no optimisation (so that each source line keeps
# its own counter) in a folder of its own, runs the suite there, and sums gcov's line counts.
# A line counts as covered when any object file that compiled it ran it (an inline function or a
# template is compiled into many objects, and the linker keeps one copy). Objects that no program
# ran still count, with all their lines uncovered. Not part of scripts/test.sh: run it by hand.
#   usage: scripts/coverage.sh [build folder, default build-cov]
# Needs gcc's gcov and python3, nothing else. The suite's exit status is printed but does not stop
# the report; the script exits with it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir=${1:-build-cov}
jobs=$(nproc)
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$PWD
fi

cmake -S . -B "$dir" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage \
  -DTK_BUILD_TESTS=ON -DTK_BUILD_BENCH=OFF -DTK_SANITIZE=OFF -DTK_FUZZ=OFF >/dev/null
cmake --build "$dir" -j"$jobs"
# Counts of an earlier run would add up with this one's.
find "$dir" -name '*.gcda' -delete
# The counters' own complaints go to a file, not into the standard error that tests compare. A
# process killed while it writes its counters (tests kill simulators) leaves a file the next
# writer cannot merge ("Merge mismatch"): that file's counts then miss some runs, and the figures
# are a lower bound.
export GCOV_ERROR_FILE=$PWD/$dir/gcov-errors.txt
rm -f "$GCOV_ERROR_FILE"
status=0
# One test runs the program under a 2 KB file size limit: the counters it writes at exit are cut
# short, and every later writer then fails to merge with them. It runs last, its counters kept
# out of the tree (GCOV_PREFIX), so the figures do not count it.
limited=DatalogNeverLeavesAHalfWrittenFile
(cd "$dir" && ctest -j"$jobs" --output-on-failure --no-tests=error -E "$limited") || status=$?
(cd "$dir" && GCOV_PREFIX=$(mktemp -d) ctest --output-on-failure -R "$limited") || status=$?
echo "suite exit status: $status"
if [ -s "$GCOV_ERROR_FILE" ]; then
  echo "gcov: $(grep -c . "$GCOV_ERROR_FILE") complaint(s) in $GCOV_ERROR_FILE"
fi

find "$dir" -name '*.gcno' -print0 | xargs -0 gcov --json-format --stdout 2>/dev/null \
  | python3 -c '
import json, os, sys
root = sys.argv[1]
src = os.path.join(root, "src") + os.sep
covered = {}  # (path, line) -> bool
for text in sys.stdin:
    text = text.strip()
    if not text:
        continue
    report = json.loads(text)
    cwd = report.get("current_working_directory", "")
    for entry in report["files"]:
        path = os.path.normpath(os.path.join(cwd, entry["file"]))
        if not path.startswith(src):
            continue
        for line in entry["lines"]:
            key = (path[len(src):], line["line_number"])
            covered[key] = covered.get(key, False) or line["count"] > 0
layers = {}
for (path, _), hit in covered.items():
    layer = path.split(os.sep)[0] if os.sep in path else "."
    total, run = layers.get(layer, (0, 0))
    layers[layer] = (total + 1, run + int(hit))
def row(name, total, run):
    print(f"{name:<12} {run:>7} / {total:<7} {100.0 * run / max(total, 1):6.2f}%")
print("line coverage of src/ (covered / instrumented lines)")
for layer in sorted(layers):
    row(layer, *layers[layer])
row("total", sum(t for t, _ in layers.values()), sum(r for _, r in layers.values()))
' "$root"
exit "$status"
