#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test suite.
#
#   scripts/test.sh [build-dir]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${1:-$root/build}"

"$here/setup.sh" "$build"
ninja -C "$build" -j2
# Tests that need a display run under Xvfb. A failed test runs once more
# (its first result stays in the log): the browser-driven suites share two
# cores with the rest; a test that fails twice fails the run.
if [[ -z "${DISPLAY:-}" ]] && command -v xvfb-run > /dev/null; then
  xvfb-run -a -s "-screen 0 1920x1080x24" ctest --test-dir "$build" --output-on-failure -j2 --repeat until-pass:2
else
  ctest --test-dir "$build" --output-on-failure -j2 --repeat until-pass:2
fi
