#!/usr/bin/env bash
# The build holds the layers: unit tests of the code above the platform layer link no
# backend library. GStreamer and libpulse must not be loaded at all; libxcb only through
# Qt's own GUI libraries (libX11), never because our code needs it.
# Usage: layers_test.sh BUILD_DIR TEST...
set -euo pipefail
bin="$1/bin"
shift
failures=0
for test in "$@"; do
  if ldd "$bin/$test" | grep -E 'libgst|libpulse'; then
    echo "FAIL: $test loads GStreamer or libpulse" >&2
    failures=$((failures + 1))
  fi
  if readelf -d "$bin/$test" | grep -E 'NEEDED.*libxcb'; then
    echo "FAIL: $test links xcb" >&2
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] && echo "no backend library in: $*"
exit "$failures"
