#!/usr/bin/env bash
# Checks types/squirrel.d.ts with the TypeScript compiler, together with a
# small typed page that uses it (types/check/page.ts). scripts/setup.sh
# installs the compiler into .deps/node.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
tsc="$root/.deps/node/node_modules/.bin/tsc"
if [ ! -x "$tsc" ]; then
  echo "types: FAILED: no TypeScript compiler in .deps/node (run scripts/setup.sh)" >&2
  exit 1
fi
echo "types: $("$tsc" --version) on types/squirrel.d.ts and types/check/page.ts"
"$tsc" -p "$root/types/check/tsconfig.json"
echo "types: passed"
