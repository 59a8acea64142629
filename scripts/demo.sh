#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job.
#
#   scripts/demo.sh [build-dir]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${1:-$root/build}"

"$here/setup.sh" "$build"
ninja -C "$build" -j2 tiravex-demo
"$build/bin/tiravex-demo"
