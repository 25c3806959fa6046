#!/usr/bin/env bash
# The test command. In order, each phase stopping the run when it fails:
#   format     every C++ source laid out as .clang-format says (scripts/check-format.sh)
#   build      the program, tests and benchmarks with warnings as errors (folder build/)
#   tests      the whole suite
#   firmware   the agent commands against the real Speeduino firmware built for this machine
#              (scripts/firmware-check.sh); skipped when ../shared/firmware is absent
#   tidy       clang-tidy over src/ (scripts/clang-tidy.sh; TK_TIDY=full, changed or off)
#   fuzz       the libFuzzer targets built with clang (build-fuzz-check/), each run once over
#              its seeds; skipped when clang is missing
#   asan-build the program and tests under AddressSanitizer + UndefinedBehaviorSanitizer
#   asan-tests the whole suite again in that build (build-asan/)
# The time of each phase is printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
tidy_mode=${TK_TIDY:-full}

# ccache, where installed, makes a rebuild of unchanged sources free; paths are taken relative to
# the checkout so that other checkouts of the repository share the cache.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$PWD
  # Sources compiled with the precompiled header (TK_PCH) are cached only with these.
  export CCACHE_SLOPPINESS=pch_defines,time_macros
fi

timings=()
report() {
  if [ ${#timings[@]} -gt 0 ]; then
    echo "Phase times, wall and CPU (load average now: $(cut -d' ' -f1-3 /proc/loadavg)):"
    printf '  %s\n' "${timings[@]}"
  fi
}
trap report EXIT
# CPU seconds of the finished child processes of this shell (compilers, tests): a phase's share
# does not depend on what else the machine is running, unlike its wall time.
children_cpu() {
  local stat
  read -r -a stat </proc/$$/stat
  echo $(((stat[15] + stat[16]) / $(getconf CLK_TCK)))
}
phase() {
  local name=$1 start=$SECONDS cpu
  cpu=$(children_cpu)
  shift
  printf '\n== %s\n' "$name"
  "$@"
  timings+=("$(printf '%-11s %5d s wall %6d s CPU' "$name" $((SECONDS - start)) \
    $(($(children_cpu) - cpu)))")
}

# The builds keep line tables only (-g1): backtraces and sanitizer reports still name file and line,
# and the sources compile in three quarters of the time full debug information takes.
build_normal() {
  cmake -S . -B build -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    -DTK_BUILD_TESTS=ON -DTK_BUILD_BENCH=ON -DTK_SANITIZE=OFF -DTK_FUZZ=OFF >/dev/null
  cmake --build build -j"$jobs"
}

run_suite() {
  (cd "$1" && ctest -j"$jobs" --output-on-failure --no-tests=error)
}

run_tidy() {
  case "$tidy_mode" in
    full) scripts/clang-tidy.sh --build build --jobs "$jobs" ;;
    changed) scripts/clang-tidy.sh --build build --jobs "$jobs" --changed ;;
    off) echo "clang-tidy skipped (TK_TIDY=off)" ;;
    *) echo "TK_TIDY must be full, changed or off" >&2; return 2 ;;
  esac
}

build_asan() {
  cmake -S . -B build-asan -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DTK_SANITIZE=ON -DTK_BUILD_TESTS=ON -DTK_BUILD_BENCH=OFF \
    -DTK_FUZZ=OFF >/dev/null
  cmake --build build-asan -j"$jobs"
}

# The fuzz targets and the layers they link, unoptimised (it halves the compile time; fuzzing is
# done by hand in an optimised build, see tests/fuzz/README.md). Each target then runs once over
# its seeds: it starts and reads real inputs, but fuzzes nothing.
build_fuzz() {
  local cxx target seeds log
  cxx=$(command -v clang++-14 || command -v clang++ || true)
  if [ -z "$cxx" ]; then
    echo "clang++ not found: fuzz targets not built"
    return 0
  fi
  cmake -S . -B build-fuzz-check -G Ninja "${launcher[@]}" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DTK_FUZZ=ON -DTK_BUILD_TESTS=OFF \
    -DTK_BUILD_BENCH=OFF >/dev/null
  cmake --build build-fuzz-check -j"$jobs" --target fuzz_targets
  for target in ini_reader_fuzz:tests/data/ini/fuzz-seeds expr_fuzz:tests/data/expr/fuzz_seeds \
    mlg_reader_fuzz:tests/data/mlg msq_reader_fuzz:tests/data/msq; do
    seeds=${target#*:}
    target=${target%%:*}
    log=build-fuzz-check/$target.log
    # Given files rather than folders, libFuzzer runs each once and writes nothing.
    find "$seeds" -type f -print0 |
      xargs -0 "build-fuzz-check/tests/fuzz/$target" -timeout=60 2>"$log" ||
      { cat "$log" >&2; echo "$target failed on a seed" >&2; return 1; }
    echo "$target: $(grep -c '^Running: ' "$log") seeds run"
  done
}

phase format scripts/check-format.sh
phase build build_normal
phase tests run_suite build
phase firmware scripts/firmware-check.sh build
phase tidy run_tidy
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
phase fuzz build_fuzz
phase asan-build build_asan
phase asan-tests run_suite build-asan
echo "All tests passed (normal and sanitizer builds)."
