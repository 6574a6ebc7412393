#!/usr/bin/env bash
# The browser end-to-end test, as ctest runs it:
#   web/tests/run-e2e.sh ZAV_BINARY OUT_DIR
# Installs the page's npm packages when they are missing (npm ci), builds the
# WebAssembly control and its site when needed (emcmake, in $ZAV_WASM_BUILD, default
# build-wasm/ of the tree; an up-to-date build costs a second), then runs e2e.mjs
# against `ZAV_BINARY serve`. Screenshots go to OUT_DIR.
#
# Exit 77 (skipped) when ZAV_BINARY has no `serve`, or when the browser tools are not
# installed (scripts/install-deps --web installs them) — except under CI, where a
# missing tool is a failure.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
zav="$(realpath "${1:?usage: run-e2e.sh ZAV_BINARY OUT_DIR}")"
out="$(realpath -m "${2:?usage: run-e2e.sh ZAV_BINARY OUT_DIR}")"
wasm_build="${ZAV_WASM_BUILD:-$root/build-wasm}"
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"

skip() {
  echo "run-e2e: $*"
  if [ "${CI:-}" = "true" ]; then
    echo "run-e2e: required under CI"
    exit 1
  fi
  echo "run-e2e: skipped"
  exit 77
}

if ! "$zav" serve --help >/dev/null 2>&1; then
  echo "run-e2e: $zav has no 'serve' command yet"
  exit 77
fi
for tool in node npm emcmake em++ "${ZAV_CHROMIUM:-/usr/bin/chromium}"; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (scripts/install-deps --web)"
done

# One build of the module at a time, whichever test run asks for it.
mkdir -p "$wasm_build"
exec 9>"$wasm_build/.lock"
flock 9

cd "$root/web"
if [ ! -f node_modules/.package-lock.json ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
  echo "run-e2e: npm ci"
  npm ci --no-audit --no-fund --loglevel=error
fi

if [ ! -f "$wasm_build/CMakeCache.txt" ]; then
  echo "run-e2e: configuring the WebAssembly build in $wasm_build"
  emcmake cmake -S "$root/web/wasm" -B "$wasm_build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
start=$(date +%s)
cmake --build "$wasm_build" -j "${ZAV_WASM_JOBS:-2}" >"$wasm_build/build.log" 2>&1 || {
  tail -50 "$wasm_build/build.log"
  echo "run-e2e: the WebAssembly build failed"
  exit 1
}
echo "run-e2e: WebAssembly build ready in $(($(date +%s) - start)) s"
flock -u 9

exec node "$here/e2e.mjs" --zav "$zav" --site "$wasm_build/site" --out "$out"
