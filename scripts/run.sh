#!/usr/bin/env bash
# Sets the machine up, builds Tonvale and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONVALE_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target sonarelrecorder tonvale_sink
exec ./build/bin/sonarelrecorder "$@"
