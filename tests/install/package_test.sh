#!/usr/bin/env bash
# The Debian package made by cpack (ctest package): tests/install/package_test.sh BUILD_DIR
# Its name, contents, dependencies, lintian (no errors), and dpkg -i into a scratch root: its
# zav answers with the package's version, and systemd reads its server unit without a
# complaint and scores the service's exposure at most 2 (of 10; --threshold counts tenths).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(realpath "${1:?usage: package_test.sh BUILD_DIR}")"
mkdir -p "${ZAV_TEST_TMP:-/tmp}"
source "$here/common.sh"

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out") \
  >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(echo "$work"/out/zav_*.deb)
version=$(dpkg-deb -f "$deb" Version)
[ "${deb##*/}" = "zav_${version}_$(dpkg --print-architecture).deb" ] || fail "named ${deb##*/}"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in "${installed_files[@]}"; do
  path="./usr/$file"
  [[ $file == etc/* ]] && path="./$file"
  grep -qx "$path" <<<"$contents" || fail "the package holds no ${path#.}"
done

depends=$(dpkg-deb -f "$deb" Depends)
for package in "libc6 (>=" "libstdc++6 (>=" libzip; do
  [[ $depends == *"$package"* ]] || fail "Depends lacks $package: $depends"
done

lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian found errors"

root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
: >"$root/var/lib/dpkg/status"
not_root=()
[ "$(id -u)" -eq 0 ] || not_root=(--force-not-root)
dpkg --root="$root" --log="$work/dpkg.log" --force-depends "${not_root[@]}" -i "$deb" >"$work/dpkg.out" 2>&1 ||
  { cat "$work/dpkg.out"; fail "dpkg -i into a scratch root failed"; }
answer=$("$root/usr/bin/zav" --version)
[[ $answer == "zav $version (commit "* ]] || fail "the installed zav --version answers: $answer"
if ! systemd-analyze security --offline=true --root="$root" --threshold=20 zav-serve.service \
  >"$work/unit.out" 2>"$work/unit.err"; then
  tail -n 5 "$work/unit.out"
  fail "zav-serve.service is exposed above 2"
fi
[ ! -s "$work/unit.err" ] || { cat "$work/unit.err"; fail "systemd complains of zav-serve.service"; }
echo "package_test: ${deb##*/}, $(stat -c %s "$deb") bytes, installs and answers: $answer"
