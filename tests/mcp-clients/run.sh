#!/usr/bin/env bash
# Installs the pinned MCP client packages (package-lock.json) into WORK_DIR, beside a copy of
# clients.mjs, and runs it against BIN_DIR/uiglean-mcp on the desktop named by DESKTOP_STATE_DIR.
# Exits 77 (skipped) without Node.js and npm.
#   run.sh BIN_DIR WORK_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$1
work=$2
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "Node.js and npm are not installed (scripts/setup.sh installs them)"
  exit 77
fi
mkdir -p "$work"
cp "$here/package.json" "$here/package-lock.json" "$here/clients.mjs" "$work/"
# npm ci again only when the lock file changed since the last install.
if ! cmp -s "$work/package-lock.json" "$work/node_modules/.installed-lock" 2>/dev/null; then
  (cd "$work" && npm ci --prefer-offline --no-audit --no-fund --loglevel=error)
  cp "$work/package-lock.json" "$work/node_modules/.installed-lock"
fi
exec node "$work/clients.mjs" "$bin"
