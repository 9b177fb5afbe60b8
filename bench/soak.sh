#!/usr/bin/env bash
# Soak: records a continuous 1 kHz tone from a private PulseAudio for MINUTES (default 30)
# through the real engine, capture graph and sink, headless (bench/soak_driver),
# sampling resident memory every 10 s. Prints the figures and exits non-zero when the MP3's
# length is off the wall clock by 0.2 % or more, the tone has a gap, the status count is off
# the clock or memory grew. Usage: bench/soak.sh <build dir> [minutes]
set -euo pipefail

build=${1:?build directory}
minutes=${2:-30}
cmake --build "$build" --target soak_driver >/dev/null
work=$(mktemp -d /tmp/tonvale-soak-XXXXXX)
trap 'rm -rf "$work"' EXIT
export GST_REGISTRY="$work/registry.bin"
"$build/bin/soak_driver" $((minutes * 60)) "$work"
