#!/usr/bin/env bash
# Soak: four live views with sound, talk and recording against simulated
# cameras that misbehave in turn (link drops, size and coding changes,
# stalls, CGI silence) for MINUTES minutes. Prints the process's resident
# memory, threads and open files each minute, then checks that every
# recording reads without an error.
#
#   scripts/soak.sh MINUTES [build-dir]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
minutes="${1:?usage: scripts/soak.sh MINUTES [build-dir]}"
build="${2:-$root/build}"

[[ -f "$build/build.ninja" ]] || "$here/setup.sh" "$build"
ninja -C "$build" -j2 tiravex-soak > /dev/null
out="$(mktemp -d /tmp/tiravex-soak.XXXXXX)"
echo "soak: $minutes minutes, files in $out"
"$build/bin/tiravex-soak" --minutes "$minutes" --out "$out" | tee "$out/soak.log" | grep -v '^recording '

readable=0
broken=0
while read -r _ file; do
  if [[ -z "$(ffmpeg -nostdin -v error -i "$file" -f null - 2>&1)" ]]; then
    readable=$((readable + 1))
  else
    broken=$((broken + 1))
    echo "soak: not readable: $file"
  fi
done < <(grep '^recording ' "$out/soak.log")
echo "soak: recordings readable $readable, not readable $broken"
[[ $broken -eq 0 ]]
