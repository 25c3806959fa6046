#!/usr/bin/env bash
# Installs the MCP client from the lock file when needed and runs the session test.
# Usage: run.sh <torvik-cli> <torvik-ecu-sim> <definition.ini>
set -euo pipefail
cd "$(dirname "$0")"
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIP: Node.js and npm are needed for the MCP client test (scripts/install-deps.sh)"
  exit 77
fi
if [ ! -d node_modules/@modelcontextprotocol/sdk ] || [ package-lock.json -nt node_modules ]; then
  npm ci --no-audit --no-fund --loglevel=error
  touch node_modules
fi
exec node mcp_test.mjs "$@"
