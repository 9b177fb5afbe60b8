#!/usr/bin/env bash
# CPU of the idle window's level meter: the program shown at rest on a private Xvfb, metering
# the monitor of a null sink on a private PulseAudio into which a 1 kHz tone plays (WAVE "sine":
# the bars stand still) or pink noise ("pink-noise": the meter moves at every reading). Reads
# the program's and the server's CPU time from /proc over SECONDS, after a settling second,
# and prints each as a share of one core; the server's before the program started is its cost
# of the tone alone. The X server's share is shown too: a meter that sent its work there would
# not be cheaper. At the end the program is closed (SIGTERM) and its log gives the meter's
# readings and paints a second, to check that the meter kept moving.
# Usage: bench/meter_bench.sh <build dir> [seconds] [channels] [wave]
set -euo pipefail

build=${1:?build directory}
seconds=${2:-30}
channels=${3:-2}
wave=${4:-sine}
program="$build/bin/sonarelrecorder"
[ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }

source "$(dirname "$0")/private_servers.sh"
start_servers "module-null-sink sink_name=bench channels=$channels sink_properties=device.description=bench"
xvfb_pid=${bench_pids[0]}

gst-launch-1.0 -q audiotestsrc wave=$wave volume=0.5 freq=1000 is-live=true ! audioconvert \
  ! pulsesink device=bench >/dev/null 2>&1 &
bench_pids+=($!)

# CPU seconds of a process so far (user + system).
cpu() { awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$1/stat"; }
share() { awk -v a="$1" -v b="$2" -v s="$seconds" 'BEGIN { printf "%.2f %%", (b - a) / s * 100 }'; }

sleep 2
s0=$(cpu "$pulse_pid")
sleep "$seconds"
s1=$(cpu "$pulse_pid")

mkdir -p "$work/config/Velmora"
cat >"$work/config/Velmora/sonarelrecorder.conf" <<EOF
[Option]
nSoundCaptureIndex=0
nCapturePinIndex=0
nSearchFlag=1
b_only_once=1
output_wav_file=$work/out.mp3
EOF
XDG_CONFIG_HOME="$work/config" TMPDIR="$work" \
  QT_LOGGING_RULES="tonvale.status.debug=true;tonvale.meter.debug=true" \
  "$program" 2>"$work/app.log" >/dev/null &
app_pid=$!
bench_pids+=("$app_pid")
for _ in $(seq 200); do grep -q "tonvale.status: shown" "$work/app.log" && break; sleep 0.05; done
grep -q "tonvale.status: shown" "$work/app.log" || { echo "the window was never shown" >&2; exit 1; }
sleep 1
a0=$(cpu "$app_pid")
s2=$(cpu "$pulse_pid")
x0=$(cpu "$xvfb_pid")
sleep "$seconds"
a1=$(cpu "$app_pid")
s3=$(cpu "$pulse_pid")
x1=$(cpu "$xvfb_pid")
kill -TERM "$app_pid"
wait "$app_pid" || true
# "metered 33012 ms: 550 readings, 517 paints"
rates=$(sed -n 's/.*tonvale.meter: metered \([0-9]*\) ms: \([0-9]*\) readings, \([0-9]*\) paints.*/\1 \2 \3/p' \
  "$work/app.log" | tail -n1)
[ -n "$rates" ] || { echo "the program logged no metering" >&2; exit 1; }

echo "$seconds s, $channels channels, idle window metering $wave:"
echo "  program (window, meter, device watch): $(share "$a0" "$a1") of one core (target 1 %)"
echo "  sound server while the meter reads:    $(share "$s2" "$s3")"
echo "  sound server, tone alone:              $(share "$s0" "$s1")"
echo "  X server while the meter paints:       $(share "$x0" "$x1")"
echo "  meter: $(awk -v r="$rates" 'BEGIN { split(r, v, " "); printf "%.1f readings, %.1f paints a second", v[2] * 1000 / v[1], v[3] * 1000 / v[1] }')"
