#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/packages.txt that are not
# installed yet (apt-get update runs once, only when something is missing),
# then configures the build folder.
#
#   scripts/setup.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${1:-$root/build}"
shift || true

missing=()
while read -r package _; do
  [[ -z "$package" || "$package" == \#* ]] && continue
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done < "$here/packages.txt"

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Objects compiled once are kept by ccache (in its own folder under the
# user's home), so that every build folder and every fresh clone reuses them.
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" "${launcher[@]}" "$@" > /dev/null
echo "setup: configured $build"
