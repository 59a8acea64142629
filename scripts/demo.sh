#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the demo page
# against the embedded simulated camera, then the viewer page against the
# simulated camera of the standards (ONVIF and RTSP). Screenshots, the sound that was
# played and what the page received go to out/demo (or the folder given).
# With a display (or under xvfb-run) the screen also appears in a window.
# Then the viewer page (pages/web/viewer.html) runs in a browser through
# tiravex-serve against a simulated camera: always as a headless screenshot,
# and with a display in a Chromium window until it is closed.
#
#   scripts/demo.sh [output-folder]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${TIRAVEX_BUILD:-$root/build}"
out="${1:-$root/out/demo}"

"$here/setup.sh" "$build"
ninja -C "$build" -j2 tiravex-page tiravex-serve tiravex-browser-shot
mkdir -p "$out"
display=()
if [[ -n "${DISPLAY:-}" ]]; then
  display=(--display)
fi
echo "demo: running pages/demo.js against a simulated camera${display:+ (on the display)}"
TIRAVEX_SETTINGS_DIR="$out/settings" TIRAVEX_AUDIO_OUT="$out/sound.wav" "$build/bin/tiravex-page" "${display[@]}" --camera sim --out "$out" --timeout 30 \
  "$root/pages/demo.js" | tee "$out/page.log"
echo "demo: pages/viewer.js against the simulated camera of the standards (ONVIF services, RTSP from GStreamer's server)"
"$build/bin/tiravex-page" --camera onvif --out "$out" --timeout 20 --arg shot=standard-camera.png "$root/pages/viewer.js" \
  | tee "$out/standard-camera.log"
echo
echo "demo: done. In $out:"
echo "  live-h264.png, live-mjpeg.png  the screen with the live picture"
echo "  live-zoomed.png                zoomed in with the wheel"
echo "  full-screen.png                full screen after a double click"
echo "  records/                       the recordings (AVI), one folder per camera address"
echo "  sound.wav                      the camera's sound as played"
echo "  page.log                       what the page received"
echo "  standard-camera.png            the viewer showing a camera of the standards (ONVIF and RTSP)"
echo "  browser-viewer.png             the viewer page in headless Chromium (below)"

echo
echo "demo: pages/web/viewer.html in a browser, through tiravex-serve and a simulated camera"
"$build/bin/tiravex-serve" --camera sim --port 0 --root "$root/pages/web" > "$out/serve.log" 2>&1 &
serve=$!
trap 'kill $serve 2> /dev/null || true; wait $serve 2> /dev/null || true' EXIT
url=""
for _ in $(seq 100); do
  url="$(grep -o 'http://[^ ]*' "$out/serve.log" | head -1 || true)"
  [[ -n "$url" ]] && break
  sleep 0.1
done
if [[ -z "$url" ]]; then
  echo "demo: tiravex-serve did not start (see $out/serve.log)"
  exit 1
fi
viewer="${url}viewer.html?connect=1"
"$build/bin/tiravex-browser-shot" "$viewer" "$out/browser-viewer.png" --wait-for "Tiravex.stats.pictures > 25" --seconds 20 \
  && echo "demo: $out/browser-viewer.png shows the viewer with the live picture"
if [[ -n "${DISPLAY:-}" ]] && command -v chromium > /dev/null; then
  echo "demo: the viewer is open in Chromium at $viewer; close its window to end"
  sandbox=()
  [[ $(id -u) -eq 0 ]] && sandbox=(--no-sandbox)
  chromium "${sandbox[@]}" --user-data-dir="$out/browser-profile" --no-first-run --no-default-browser-check --app="$viewer" > /dev/null 2>&1 || true
fi
