#!/usr/bin/env bash
# A recording past 4 GiB through the WAV Dest plugin, as fast as a non-live source goes:
# 8 channels of 48 kHz S16 (768000 bytes a second) for SECONDS (default 5700, 4.07 GiB of
# WAV). Checks that the WAV's 32-bit RIFF and data sizes are clamped to 0xFFFFFFFF, that
# the file holds every byte, that a reader decodes to its end, and that the MP3's Xing
# header states the full length. Needs about 4.5 GiB free under TMPDIR.
# Usage: bench/long_wav.sh <build dir> [seconds]
set -euo pipefail

build=${1:?build directory}
seconds=${2:-5700}
work=$(mktemp -d "${TMPDIR:-/tmp}/tonvale-longwav-XXXXXX")
trap 'rm -rf "$work"' EXIT
export GST_PLUGIN_PATH="$build/lib/tonvale"
export GST_REGISTRY="$work/registry.bin"
rate=48000 channels=8
buffers=$((seconds * 10))

start=$(date +%s)
gst-launch-1.0 -q audiotestsrc wave=sine freq=1000 volume=0.3 samplesperbuffer=$((rate / 10)) \
  num-buffers="$buffers" ! audio/x-raw,format=S16LE,rate=$rate,channels=$channels \
  ! tonvalewavdest location="$work/out.mp3" ! filesink location="$work/out.wav"
wall=$(($(date +%s) - start))

status=0
wav_size=$(stat -c %s "$work/out.wav")
data=$((seconds * rate * channels * 2))
read -r riff_size data_size < <(python3 - "$work/out.wav" <<'PY'
import struct, sys
with open(sys.argv[1], 'rb') as f:
    head = f.read(4096)
riff = struct.unpack_from('<I', head, 4)[0]
pos, data = 12, -1
while pos + 8 <= len(head):
    tag, size = head[pos:pos + 4], struct.unpack_from('<I', head, pos + 4)[0]
    if tag == b'data':
        data = size
        break
    pos += 8 + size + (size & 1)
print(riff, data)
PY
)
mp3_seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/out.mp3")
# Decode the WAV to its end (only the sample count is kept).
wav_seconds=$(ffprobe -v error -count_packets -show_entries format=duration -of csv=p=0 \
  "$work/out.wav")

printf 'audio: %d s, written in %d s\n' "$seconds" "$wall"
printf 'wav: %d bytes (%d of audio + header), RIFF size %#x, data size %#x, reader says %s s\n' \
  "$wav_size" "$data" "$riff_size" "$data_size" "$wav_seconds"
printf 'mp3: %s s by its header\n' "$mp3_seconds"
[ "$wav_size" -gt "$data" ] || { echo "FAIL: WAV lost audio"; status=1; }
[ "$riff_size" = 4294967295 ] || { echo "FAIL: RIFF size not clamped"; status=1; }
[ "$data_size" = 4294967295 ] || { echo "FAIL: data size not clamped"; status=1; }
awk -v d="$mp3_seconds" -v s="$seconds" 'BEGIN { exit !(d > s - 1 && d < s + 1) }' ||
  { echo "FAIL: MP3 length $mp3_seconds s"; status=1; }
awk -v d="$wav_seconds" -v s="$seconds" 'BEGIN { exit !(d > s - 1 && d < s + 1) }' ||
  { echo "FAIL: WAV reads as $wav_seconds s"; status=1; }
[ $status = 0 ] && echo "LONG WAV PASSED"
exit $status
