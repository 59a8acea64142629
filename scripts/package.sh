#!/usr/bin/env bash
# Builds the Debian package of Tiravex: build-package/tiravex_<version>_amd64.deb
# (the version is the project's, from CMakeLists.txt). It configures its own
# Release build folder without the tests and benches, hardened as Debian
# hardens its packages (TIRAVEX_HARDENING), builds the programs
# and their manual pages, runs CPack, and checks the package with lintian
# when it is installed (a lintian error fails the script).
#
#   scripts/package.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${1:-$root/build-package}"
shift || true

BUILD_TYPE=Release "$here/setup.sh" "$build" -DCMAKE_INSTALL_PREFIX=/usr \
  -DTIRAVEX_TESTS=OFF -DTIRAVEX_BENCH=OFF -DTIRAVEX_HARDENING=ON "$@"
ninja -C "$build" -j"${JOBS:-2}"
(cd "$build" && cpack -G DEB > cpack.log) || { cat "$build/cpack.log" >&2; exit 1; }
package="$(ls -t "$build"/tiravex_*_amd64.deb | head -n 1)"
echo "package: $package"
if command -v lintian > /dev/null; then
  lintian "$package"
fi
