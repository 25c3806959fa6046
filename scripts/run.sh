#!/usr/bin/env bash
# Builds the tool and runs its main job on the built-in default.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTK_BUILD_TESTS=OFF -DTK_BUILD_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target torvik-cli
cli=build/torvik-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== torvik-cli: conformance vectors =="
"$cli" dump-crc32 "$work/crc32.json"
cat "$work/crc32.json"
"$cli" dump-jsonfmt "$work/jsonfmt.json"
echo "(dump-jsonfmt wrote $(wc -l < "$work/jsonfmt.json") lines)"
echo "== usage =="
"$cli" 2>&1 || true
