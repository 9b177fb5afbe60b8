#!/usr/bin/env bash
# Encoding speed and peak memory of the WAV Dest plugin: MINUTES of 44.1 kHz stereo S16 audio
# (pink noise, which LAME finds as hard as music) through tonvalewavdest as fast as it goes, MP3 and WAV written to a
# temporary directory. Usage: bench/sink_throughput.sh <build dir> [minutes]
set -euo pipefail

build=${1:?build directory}
minutes=${2:-10}
work=$(mktemp -d /tmp/tonvale-sink-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

export GST_PLUGIN_PATH="$build/lib/tonvale"
export GST_REGISTRY="$work/registry.bin"
buffers=$((minutes * 60 * 10))  # 4410-sample buffers, 10 per second

/usr/bin/time -f '%e %M' -o "$work/time" gst-launch-1.0 -q \
  audiotestsrc wave=pink-noise volume=0.3 samplesperbuffer=4410 num-buffers="$buffers" \
  ! audio/x-raw,format=S16LE,rate=44100,channels=2 \
  ! tonvalewavdest location="$work/out.mp3" ! filesink location="$work/out.wav"

read -r seconds rss_kb <"$work/time"
audio=$((minutes * 60))
printf 'audio: %d s  wall: %s s  speed: %.1fx real time  peak RSS: %d MiB\n' \
  "$audio" "$seconds" "$(echo "$audio / $seconds" | bc -l)" $((rss_kb / 1024))
printf 'mp3: %d KiB (%.0f kbit/s)  wav: %d MiB\n' \
  $(($(stat -c %s "$work/out.mp3") / 1024)) \
  "$(echo "$(stat -c %s "$work/out.mp3") * 8 / 1000 / $audio" | bc -l)" \
  $(($(stat -c %s "$work/out.wav") / 1048576))
