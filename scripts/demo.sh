#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the demo page
# against the embedded simulated camera. Screenshots, the sound that was
# played and what the page received go to out/demo (or the folder given).
# With a display (or under xvfb-run) the screen also appears in a window.
#
#   scripts/demo.sh [output-folder]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${TIRAVEX_BUILD:-$root/build}"
out="${1:-$root/out/demo}"

"$here/setup.sh" "$build"
ninja -C "$build" -j2 tiravex-page
mkdir -p "$out"
display=()
if [[ -n "${DISPLAY:-}" ]]; then
  display=(--display)
fi
echo "demo: running pages/demo.js against a simulated camera${display:+ (on the display)}"
TIRAVEX_SETTINGS_DIR="$out/settings" TIRAVEX_AUDIO_OUT="$out/sound.wav" "$build/bin/tiravex-page" "${display[@]}" --camera sim --out "$out" --timeout 30 \
  "$root/pages/demo.js" | tee "$out/page.log"
echo
echo "demo: done. In $out:"
echo "  live-h264.png, live-mjpeg.png  the screen with the live picture"
echo "  live-zoomed.png                zoomed in with the wheel"
echo "  full-screen.png                full screen after a double click"
echo "  records/                       the recordings (AVI), one folder per camera address"
echo "  sound.wav                      the camera's sound as played"
echo "  page.log                       what the page received"
