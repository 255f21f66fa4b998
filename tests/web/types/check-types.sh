#!/bin/sh
# Checks web/kiv3-client.d.ts with tsc --noEmit against usage.ts, the library installed as a
# web developer would: npm install of the web folder, beside a pinned TypeScript, in BUILD_DIR.
# Usage: check-types.sh SOURCE_DIR BUILD_DIR
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$1 work=$2/ts
typescript=typescript@5.9.3
command -v npm >/dev/null || { echo "FAIL: npm is missing: apt-get install nodejs npm" >&2; exit 1; }
mkdir -p "$work"
cp "$here/usage.ts" "$here/tsconfig.json" "$work/"
if [ ! -x "$work/node_modules/.bin/tsc" ] || [ ! -e "$work/node_modules/kiv3-client" ]; then
    npm install --prefix "$work" --no-audit --no-fund --loglevel=error "$typescript" "$source_dir/web"
fi
cd "$work"
node_modules/.bin/tsc --version
node_modules/.bin/tsc -p tsconfig.json
echo "kiv3-client.d.ts: usage.ts compiles"
