#!/usr/bin/env bash
# zav installed into a scratch prefix (ctest install): tests/install/install_test.sh BUILD_DIR
# The layout, the library's SONAME, the man page, the bash completion, and the programs of
# tests/install/ built against that prefix alone, each validating the bundled example.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(realpath "${1:?usage: install_test.sh BUILD_DIR}")"
mkdir -p "${ZAV_TEST_TMP:-/tmp}"
source "$here/common.sh"

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || fail "cmake --install failed"
for file in "${installed_files[@]}"; do
  [ -e "$prefix/$file" ] || fail "cmake --install put no $file"
done
readelf -d "$prefix/lib/libZAVCtlN.so" | grep -q 'SONAME.*\[libZAVCtlN\.so\.0\]' ||
  fail "libZAVCtlN.so has no SONAME libZAVCtlN.so.0"
zcat "$prefix/share/man/man1/zav.1.gz" | grep -qx 'validate' || fail "zav.1 does not list the commands"

# The completion offers the commands, then a command's options.
completions=$(PATH="$prefix/bin:$PATH" bash -c '
  source /usr/share/bash-completion/bash_completion
  source "$1/share/bash-completion/completions/zav"
  for line in "zav va" "zav check --server-d"; do
    read -ra COMP_WORDS <<<"$line"
    COMP_LINE=$line COMP_POINT=${#line} COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMPREPLY=()
    _zav zav "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    echo "${COMPREPLY[*]}"
  done' completion "$prefix")
[ "$completions" = $'validate\n--server-date' ] || fail "bash completion offered: $completions"

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
cmake -S "$here" -B "$work/consumers" -DCMAKE_PREFIX_PATH="$prefix" >"$work/consumers.log" 2>&1 &&
  cmake --build "$work/consumers" >>"$work/consumers.log" 2>&1 ||
  { cat "$work/consumers.log"; fail "the programs against the installed zav did not build"; }
mkdir "$work/drive_c"
export ZAV_DRIVES="C=fixed:$work/drive_c"
for program in consume_c consume_cpp; do
  line=$("$work/consumers/$program" "$root/examples/P0404268.ZAV" 10/05/2004) ||
    fail "$program: $line"
  [[ $line == A1234567890-000001-200404-* ]] || fail "$program printed: $line"
done
echo "install_test: installed, and used from C and C++"
