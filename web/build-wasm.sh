#!/usr/bin/env bash
# Builds the browser control and its site:
#   web/build-wasm.sh [BUILD_DIR]      (default: build-wasm/ of the tree, or $ZAV_WASM_BUILD)
# Installs the page's npm packages when they are missing or out of date (npm ci), then
# configures (emcmake) and builds web/wasm. The site lands in BUILD_DIR/site, ready for
# `zav serve --web BUILD_DIR/site`; the module and the zip library are also copied to
# web/dist/ (not committed), so that `zav serve` with its default web/ folder serves
# them too. An up-to-date build costs a second. Needs scripts/install-deps --web.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m "${1:-${ZAV_WASM_BUILD:-$root/build-wasm}}")"
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"

# One build at a time, whoever asks for it.
mkdir -p "$build"
exec 9>"$build/.lock"
flock 9

cd "$root/web"
if [ ! -f node_modules/.package-lock.json ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
  echo "build-wasm: npm ci"
  npm ci --no-audit --no-fund --loglevel=error
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "build-wasm: configuring in $build"
  emcmake cmake -S "$root/web/wasm" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
start=$(date +%s)
if ! cmake --build "$build" -j "${ZAV_WASM_JOBS:-2}" >"$build/build.log" 2>&1; then
  tail -50 "$build/build.log"
  echo "build-wasm: the build failed (log: $build/build.log)"
  exit 1
fi
mkdir -p "$root/web/dist"
cp -p "$build/site/dist/"* "$root/web/dist/"
echo "build-wasm: $build/site ready in $(($(date +%s) - start)) s"
