#!/usr/bin/env bash
# The Debian package as a user gets it: made by CPack from this build folder
# (the objects already built, nothing compiled again) or taken from
# $TIRAVEX_PACKAGE, unpacked with dpkg-deb -x into a temporary root, then:
# every program and library resolves its libraries (ours from the unpacked
# tree), nothing in it names the source or build tree, the files a user
# expects are there, the unpacked tiravex-page runs an installed page
# against its simulated camera (screenshots taken, exit status 0), and the
# unpacked tiravex-serve serves the installed viewer by default.
#
# With TIRAVEX_PACKAGE_INSTALL=1 it also installs the package on this
# machine with apt-get (as root, or through sudo), runs the user service's
# command with a simulated camera, loads the viewer in headless Chromium
# until the live picture arrives, and removes the package again, checking
# that every file it installed is gone.
#
#   package_test.sh CPACK BUILD-DIR SOURCE-DIR VERSION BROWSER-SHOT
# Exit status 77 (skipped) when dpkg-deb is missing.
set -euo pipefail
cpack="$1" build="$2" source="$3" version="$4" browser_shot="$5"
programs=(tiravex-page tiravex-serve tiravex-camsim tiravex-avifix tiravex-register)
readonly kPageTimeoutSeconds=30 kServeStartSeconds=20 kPictureSeconds=30 kPicturesShown=25 kSkipped=77

if ! command -v dpkg-deb > /dev/null; then
  echo "SKIPPED: dpkg-deb is missing (the package test needs Debian's dpkg)"
  exit $kSkipped
fi
fail() { echo "FAILED: $*" >&2; exit 1; }

work="$(mktemp -d)"
serve_pid=""
installed=""
sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
cleanup() {
  if [[ -n "$serve_pid" ]]; then
    kill "$serve_pid" 2> /dev/null || true
    wait "$serve_pid" 2> /dev/null || true
  fi
  [[ -n "$installed" ]] && DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get remove -y -qq tiravex > /dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

if [[ -n "${TIRAVEX_PACKAGE:-}" ]]; then
  deb="$TIRAVEX_PACKAGE"
else
  "$cpack" --config "$build/CPackConfig.cmake" -B "$work/cpack" > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
  deb="$work/cpack/tiravex_${version}_amd64.deb"
fi
[[ -f "$deb" ]] || fail "no package $deb"
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes (${SECONDS} s)"
root="$work/root"
dpkg-deb -x "$deb" "$root"
[[ "$(dpkg-deb -f "$deb" Version)" == "$version" ]] || fail "the package's version is not $version"

# The files a user expects.
for program in "${programs[@]}"; do
  [[ -x "$root/usr/bin/$program" ]] || fail "no /usr/bin/$program"
  [[ -f "$root/usr/share/man/man1/$program.1.gz" ]] || fail "no manual page for $program"
done
for file in usr/share/tiravex/pages/web/viewer.html usr/share/tiravex/pages/demo.js \
  usr/lib/systemd/user/tiravex-serve.service usr/share/applications/tiravex-viewer.desktop \
  usr/share/doc/tiravex/copyright usr/share/doc/tiravex/changelog.gz; do
  [[ -f "$root/$file" ]] || fail "no /$file"
done

# Every program's libraries resolve, ours from the unpacked private folder
# only; ldd lists them transitively, so every library shipped is among them.
declare -A resolved=()
for file in "$root"/usr/bin/*; do
  listing="$(ldd "$file")" || fail "ldd $file"
  if grep -q "not found" <<< "$listing"; then
    echo "$listing"
    fail "$(basename "$file") has libraries that do not resolve"
  fi
  while read -r name _ path _; do
    case "$name" in
      libtv_* | libtiravex* | libkz*)
        [[ "$(realpath -m "$path")" == "$root/usr/lib/tiravex/"* ]] || fail "$(basename "$file") takes $name from $path"
        resolved[$name]=1 ;;
    esac
  done <<< "$listing"
done
for library in "$root"/usr/lib/tiravex/*.so; do
  [[ -n "${resolved[$(basename "$library")]:-}" ]] || fail "no program loads $(basename "$library")"
done

# Nothing installed names the source or build tree.
if grep -rlF -e "$source" -e "$build" "$root" > "$work/named"; then
  cat "$work/named"
  fail "installed files name the source or build tree"
fi

echo "libraries resolve, no source path (${SECONDS} s)"

# The unpacked page host, from a folder outside the source tree, with an
# environment that points nowhere near it: the installed demo page (named
# without a folder) logs in to the simulated camera and takes screenshots.
home="$work/home"
mkdir -p "$home"
cd "$work"
clean_env=(env -i "PATH=/usr/bin:/bin" "HOME=$home" "TIRAVEX_SEARCH_TARGETS=127.0.0.1")
"${clean_env[@]}" "$root/usr/bin/tiravex-page" --timeout $kPageTimeoutSeconds --camera sim --out "$work/out" demo.js \
  > "$work/page.log" 2>&1 || { cat "$work/page.log"; fail "the unpacked tiravex-page exited with $?"; }
grep -q "login reply: status 0," "$work/page.log" || { cat "$work/page.log"; fail "no login"; }
for shot in live-h264.png live-mjpeg.png; do
  [[ "$(head -c 4 "$work/out/$shot" 2> /dev/null | tail -c 3)" == "PNG" ]] || fail "no screenshot $shot"
done
echo "tiravex-page: demo.js logged in and took $(ls "$work/out"/*.png | wc -l) screenshots (${SECONDS} s)"

# The unpacked browser server serves the installed viewer by default.
coproc SERVE { exec "${clean_env[@]}" "$root/usr/bin/tiravex-serve" --port 0 2>&1; }
serve_pid=$SERVE_PID
read -r -t $kServeStartSeconds line <&"${SERVE[0]}" || fail "tiravex-serve did not start"
[[ "$line" =~ serving\ (.*)\ on\ http://127\.0\.0\.1:([0-9]+)/ ]] || fail "tiravex-serve said: $line"
[[ "${BASH_REMATCH[1]}" == "$root/usr/share/tiravex/pages/web" ]] || fail "tiravex-serve serves ${BASH_REMATCH[1]}"
port="${BASH_REMATCH[2]}"
exec 3<> "/dev/tcp/127.0.0.1/$port"
printf 'GET /viewer.html HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nConnection: close\r\n\r\n' "$port" >&3
answer="$(cat <&3)"
exec 3>&-
[[ "$answer" == "HTTP/1.1 200"* ]] || fail "GET /viewer.html: ${answer%%$'\r'*}"
grep -qF '/tiravex.js' <<< "$answer" || fail "the viewer page does not load /tiravex.js"
echo "tiravex-serve: serves the installed viewer on port $port"
kill "$serve_pid"
wait "$serve_pid" 2> /dev/null || true
serve_pid=""

if [[ "${TIRAVEX_PACKAGE_INSTALL:-0}" == 1 ]]; then
  # Installed on this machine: the user service's command (with a simulated
  # camera and any free port added) shows the live picture in Chromium.
  installed=1
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "$(realpath "$deb")" > "$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get install"; }
  unit=/usr/lib/systemd/user/tiravex-serve.service
  command="$(sed -n 's/^ExecStart=//p' "$unit")"
  [[ "$command" == tiravex-serve* ]] || fail "$unit starts $command"
  read -r -a words <<< "$command"
  coproc SERVE { exec "${clean_env[@]}" "${words[@]}" --camera sim --port 0 2>&1; }
  serve_pid=$SERVE_PID
  read -r -t $kServeStartSeconds line <&"${SERVE[0]}" || fail "the installed tiravex-serve did not start"
  [[ "$line" =~ serving\ /usr/share/tiravex/pages/web\ on\ (http://127\.0\.0\.1:[0-9]+/) ]] ||
    fail "the installed tiravex-serve said: $line"
  "$browser_shot" "${BASH_REMATCH[1]}viewer.html?connect=1" "$work/viewer.png" \
    --wait-for "Tiravex.stats.pictures > $kPicturesShown" --seconds $kPictureSeconds ||
    fail "the installed viewer showed no live picture"
  kill "$serve_pid"
  wait "$serve_pid" 2> /dev/null || true
  serve_pid=""
  dpkg -L tiravex > "$work/files"
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get remove -y -qq tiravex > "$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get remove"; }
  installed=""
  while read -r file; do
    [[ -e "$file" && ! -d "$file" ]] && fail "apt-get remove left $file"
  done < "$work/files"
  echo "installed: the viewer showed the live picture; apt-get remove left nothing (${SECONDS} s)"
fi
echo "package test passed (${SECONDS} s)"
