#!/usr/bin/env bash
# Sets the machine up, builds Tonvale with its tests, and runs every test.
# Extra arguments go to ctest (for example -L unit). TONVALE_SANITIZE=1 builds with ASan+UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=build
opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${TONVALE_SANITIZE:-0}" = 1 ]; then
  build=build-asan
  opts=(-DCMAKE_BUILD_TYPE=Debug -DTONVALE_SANITIZE=ON)
fi
cmake -S . -B "$build" "${opts[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure "$@"
