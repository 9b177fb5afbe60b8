#!/usr/bin/env bash
# Sets the machine up, builds Tonvale with its tests, and runs every test.
# Extra arguments go to ctest (for example -L unit). TONVALE_SANITIZE=1 builds with ASan+UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=build
opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONVALE_BUILD_TESTS=ON)
if [ "${TONVALE_SANITIZE:-0}" = 1 ]; then
  build=build-asan
  opts=(-DCMAKE_BUILD_TYPE=Debug -DTONVALE_SANITIZE=ON -DTONVALE_BUILD_TESTS=ON)
  # Plugins load in the test process, whose ASan runtime comes first; a child such as
  # gst-launch that loads the instrumented plugin late is let through. Library caches that
  # live until exit are not leaks of ours.
  export GST_REGISTRY_FORK=no
  export ASAN_OPTIONS="verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  export LSAN_OPTIONS="suppressions=$PWD/tests/reliability/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
fi
cmake -S . -B "$build" "${opts[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure --no-tests=error "$@"
