#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need, when missing: clang
# builds the fuzz targets, clang-format 14 and clang-tidy 22 check the sources; Node.js and npm
# run the MCP client test (its packages come from tests/cli/mcp/package-lock.json).
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev libgtest-dev
          libgmock-dev libbenchmark-dev socat jq clang-14 libclang-rt-14-dev clang-format-14
          clang-tidy-22 qt6-svg-dev fonts-dejavu-core qt6-httpserver-dev qt6-websockets-dev
          chromium lld)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Node.js and npm are looked for as commands: a Node.js that bundles its own npm conflicts with
# Debian's npm package, and either way the tests only need the two commands.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# The browser test's npm packages, pinned by tests/browser/package-lock.json.
browser_tests="$(dirname "$0")/../tests/browser"
if command -v npm >/dev/null && [ ! -d "$browser_tests/node_modules" ]; then
  (cd "$browser_tests" && npm ci --no-audit --no-fund >/dev/null)
fi
