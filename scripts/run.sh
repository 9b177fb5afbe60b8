#!/usr/bin/env bash
# Sets the machine up, builds Tonvale and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j"$(nproc)" --target sonarelrecorder tonvale_sink tonvale_help
exec ./build/bin/sonarelrecorder "$@"
