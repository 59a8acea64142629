#!/usr/bin/env bash
# Builds the test suites with a sanitizer and runs them; any report fails
# the run.
#
#   scripts/sanitize.sh asan [build-dir]   every suite under AddressSanitizer
#                                          and UndefinedBehaviorSanitizer
#   scripts/sanitize.sh tsan [build-dir]   the media, link and end-to-end
#                                          suites under ThreadSanitizer
#
# The build is optimised lightly (-O1) with line tables (-g1), so that the
# sanitizer's reports name files and lines while the build stays quick.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
kind="${1:?asan or tsan}"
build="${2:-$root/build-$kind}"

# Each run is "labels:jobs"; an empty label list runs every test. Under
# ThreadSanitizer one end-to-end test (a page, the control and a camera in
# one process) needs about a core to keep pace with the camera's clock, so
# those run one at a time.
case "$kind" in
  asan)
    option=-DTIRAVEX_ASAN=ON
    runs=(":2")
    targets=(all)
    exclude=""
    ;;
  tsan)
    option=-DTIRAVEX_TSAN=ON
    runs=("^(media|link)$:2" "^e2e$:1")
    targets=(media_tests link_tests e2e_tests tiravex-page tiravex-avifix)
    # The end-to-end tests with a camera of the standards are left out here:
    # GStreamer and GLib hand buffers between their threads through their own
    # uninstrumented queues and allocators, so ThreadSanitizer reports every
    # reuse of such memory as a race. They run under AddressSanitizer.
    exclude="Standard"
    ;;
  *)
    echo "sanitize: asan or tsan, not $kind" >&2
    exit 2
    ;;
esac

BUILD_TYPE=RelWithDebInfo "$here/setup.sh" "$build" "$option" -DTIRAVEX_BENCH=OFF \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
ninja -C "$build" -j2 "${targets[@]}"

# Reports go to standard error and fail the test that made them.
export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp"

display=()
if [[ -z "${DISPLAY:-}" ]] && command -v xvfb-run > /dev/null; then
  display=(xvfb-run -a -s "-screen 0 1920x1080x24")
fi
for run in "${runs[@]}"; do
  labels="${run%:*}"
  ctest_args=(--test-dir "$build" --output-on-failure -j"${run##*:}")
  [[ -n "$labels" ]] && ctest_args+=(-L "$labels")
  [[ -n "$exclude" ]] && ctest_args+=(-E "$exclude")
  "${display[@]}" ctest "${ctest_args[@]}"
done
