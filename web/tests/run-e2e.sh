#!/usr/bin/env bash
# The browser end-to-end test, as ctest runs it:
#   web/tests/run-e2e.sh ZAV_BINARY OUT_DIR
# Builds the WebAssembly control and its site when needed (web/build-wasm.sh, in
# $ZAV_WASM_BUILD, default build-wasm/ of the tree; an up-to-date build costs a second),
# then runs e2e.mjs against `ZAV_BINARY serve`. Screenshots go to OUT_DIR.
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

"$root/web/build-wasm.sh" "$wasm_build"

exec node "$here/e2e.mjs" --zav "$zav" --site "$wasm_build/site" --out "$out"
