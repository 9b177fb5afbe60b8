#!/usr/bin/env bash
# Sets the machine up, builds Tonvale with its tests, and runs every test.
# Extra arguments go to ctest (for example -L unit). TONVALE_PRESET picks the CMake preset:
# dev (the default), ci (warnings as errors) or asan (ASan + UBSan, in build-asan/);
# TONVALE_SANITIZE=1 is the same as TONVALE_PRESET=asan. With CI=true a test that did not
# run (skipped, or its setup failed) fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
preset=${TONVALE_PRESET:-dev}
[ "${TONVALE_SANITIZE:-0}" = 1 ] && preset=asan
if [ "$preset" = asan ]; then
  # Plugins load in the test process, whose ASan runtime comes first; a child such as
  # gst-launch that loads the instrumented plugin late is let through. Library caches that
  # live until exit are not leaks of ours.
  export GST_REGISTRY_FORK=no
  export ASAN_OPTIONS="verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  export LSAN_OPTIONS="suppressions=$PWD/tests/reliability/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
  # Qt's D-Bus thread now and then leaves a message behind when a program ends without a
  # bus, in frames LeakSanitizer cannot unwind: in a whole run up to three programs, once in
  # both runs of one test. A test that fails gets up to three runs.
  set -- --repeat until-pass:3 "$@"
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
ctest --preset "$preset" "$@" 2>&1 | tee "$log" || status=$?
if [ "${CI:-false}" = true ] && grep -Eq '\*\*\*(Skipped|Not Run)|Not Run ' "$log"; then
  echo "test.sh: some tests did not run (see above); in CI every test must run" >&2
  status=1
fi
exit "$status"
