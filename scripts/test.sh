#!/usr/bin/env bash
# Builds with warnings as errors and runs the whole suite, then again under ASan + UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTK_BUILD_TESTS=ON -DTK_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest -j"$jobs" --output-on-failure --no-tests=error)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTK_SANITIZE=ON -DTK_BUILD_TESTS=ON -DTK_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest -j"$jobs" --output-on-failure --no-tests=error)
echo "All tests passed (normal and sanitizer builds)."
