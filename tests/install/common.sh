# Sourced by install_test.sh and package_test.sh.
# What an install holds under its prefix (cmake/install.cmake); etc/ is /etc in the package.
installed_files=(
  bin/zav bin/zav-serve
  lib/libZAVCtlN.so lib/libZAVCtlN.so.0 lib/libZAVCtlN.a
  include/zav/zavctl.h include/zav/zav.hpp
  lib/cmake/ZAVCtlN/ZAVCtlNConfig.cmake lib/pkgconfig/zavctln.pc
  share/man/man1/zav.1.gz share/man/man1/zav-serve.1.gz
  share/bash-completion/completions/zav
  share/zav/web/index.html share/zav/web/sw.js share/zav/web/lib/control.mjs
  share/doc/zav/copyright share/doc/zav/changelog.gz
  lib/systemd/system/zav-serve.service etc/zav/zav-serve.conf share/zav/nginx/zav.conf
  share/zav/openapi.json share/zav/schema/check-all.schema.json share/zav/schema/receipt.schema.json
)

fail() {
  echo "${0##*/}: $*" >&2
  exit 1
}

# A folder of its own under ZAV_TEST_TMP (or TMPDIR), removed on exit.
work=$(realpath "$(mktemp -d "${ZAV_TEST_TMP:-${TMPDIR:-/tmp}}/${0##*/}.XXXXXX")")
trap 'rm -rf "$work"' EXIT
