#!/usr/bin/env bash
# Records a few seconds with Tonvale on a machine without a desktop or a sound card.
#
# Starts a private Xvfb and a private PulseAudio with a null sink, plays a sine tone into
# that sink, starts the program with its own settings folder (which names the output
# file), records the null sink's monitor through the global hotkeys Ctrl+Alt+R and
# Ctrl+Alt+S, takes a screenshot while recording, and closes the program with SIGTERM
# (its close command, which saves the settings). Everything it started is stopped again.
#
# Usage: bash scripts/demo.sh [--seconds N] [--freq HZ] [--out DIR] [--program PATH]
#   --seconds  length of the recording (default 5)
#   --freq     pitch of the test tone in Hz (default 440)
#   --out      where the MP3, the screenshot, the settings and the log go (default build/demo)
#   --program  the program to run (default: build/bin/sonarelrecorder, built when needed)
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
seconds=5
freq=440
out="$source_dir/build/demo"
program=

while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=${2:?}; shift 2 ;;
    --freq) freq=${2:?}; shift 2 ;;
    --out) out=${2:?}; shift 2 ;;
    --program) program=${2:?}; shift 2 ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown argument $1 (try --help)" >&2; exit 2 ;;
  esac
done
case "$seconds" in '' | *[!0-9.]*) echo "demo.sh: --seconds needs a number" >&2; exit 2 ;; esac
case "$freq" in '' | *[!0-9]*) echo "demo.sh: --freq needs a whole number" >&2; exit 2 ;; esac

say() { printf 'demo: %s\n' "$*" >&2; }

tools=(Xvfb pulseaudio pactl gst-launch-1.0 xdotool import ffprobe sox)
[ -n "$program" ] || tools+=(cmake)
for tool in "${tools[@]}"; do
  if ! command -v "$tool" >/dev/null; then
    say "$tool is missing; installing what Tonvale needs"
    bash "$source_dir/scripts/setup.sh"
    break
  fi
done

if [ -z "$program" ]; then
  build="$source_dir/build"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    say "configuring $build"
    cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  say "building the program"
  cmake --build "$build" -j"$(nproc)" --target sonarelrecorder tonvale_sink tonvale_help >/dev/null
  program="$build/bin/sonarelrecorder"
fi
[ -x "$program" ] || { echo "demo.sh: no program at $program" >&2; exit 1; }

mkdir -p "$out"
out=$(cd "$out" && pwd)
mp3="$out/demo.mp3"
shot="$out/screenshot.png"
config="$out/config"
settings="$config/Velmora/sonarelrecorder.conf"
rm -f "$mp3" "$shot" "$settings"

run=$(mktemp -d "${TMPDIR:-/tmp}/tonvale-demo.XXXXXX")
xvfb_pid= pulse_pid= tone_pid= program_pid=

stop() { # stop PID: ends one process this script started and reaps it
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  stop "$program_pid"
  stop "$tone_pid"
  stop "$pulse_pid"
  stop "$xvfb_pid"
  rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A private display; Xvfb writes the number it chose to the descriptor.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$run/display" 2>"$run/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$run/display" ] && break
  sleep 0.1
done
[ -s "$run/display" ] || { echo "demo.sh: Xvfb did not start ($run/xvfb.log)" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$run/display")"

# A private sound server with one null sink; its monitor is the source to record.
export XDG_RUNTIME_DIR="$run" PULSE_RUNTIME_PATH="$run/pulse"
export PULSE_SERVER="unix:$run/pulse/native"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  --log-target=file:"$run/pulse.log" --load=module-native-protocol-unix \
  --load="module-null-sink sink_name=tonvale_demo sink_properties=device.description=Tonvale_demo" \
  >/dev/null 2>&1 &
pulse_pid=$!
for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
pactl info >/dev/null 2>&1 || { echo "demo.sh: PulseAudio did not start" >&2; cat "$run/pulse.log" >&2; exit 1; }

gst-launch-1.0 -q audiotestsrc is-live=true wave=sine freq="$freq" volume=0.5 ! audioconvert \
  ! pulsesink device=tonvale_demo >"$run/tone.log" 2>&1 &
tone_pid=$!
tone_started=$(date +%s.%N)

# Settings of a first start that already names the output file and has seen the hint.
mkdir -p "$(dirname "$settings")"
printf '[Option]\noutput_wav_file=%s\nb_only_once=1\n' "$mp3" >"$settings"

say "starting $program on $DISPLAY"
XDG_CONFIG_HOME="$config" TMPDIR="$out" QT_QPA_PLATFORM=xcb "$program" >"$out/program.log" 2>&1 &
program_pid=$!
window=
for _ in $(seq 150); do
  window=$(xdotool search --name '^Tonvale$' 2>/dev/null | head -n1) || true
  [ -n "$window" ] && break
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$window" ] || { echo "demo.sh: the window did not appear ($out/program.log)" >&2; exit 1; }
sleep 1
# A freshly fed null sink renders in blocks of about a second, so a recording of its monitor
# started at once would begin that much late: let the tone play for 3 s first.
sleep "$(awk -v t0="$tone_started" -v now="$(date +%s.%N)" 'BEGIN { w = 3 - (now - t0); printf "%.2f", (w > 0 ? w : 0) }')"

say "recording ${seconds}s of a ${freq} Hz tone"
half=$(awk -v s="$seconds" 'BEGIN { printf "%.2f", s / 2 }')
xdotool key ctrl+alt+r
started=$(date +%s.%N)
sleep "$half"
import -window "$window" "$shot" 2>/dev/null || import -window root "$shot"
sleep "$half"
xdotool key ctrl+alt+s
span=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
sleep 1

# SIGTERM runs the window's close command: the recording ends and the settings are saved.
kill -TERM "$program_pid"
status=
for _ in $(seq 150); do
  if ! kill -0 "$program_pid" 2>/dev/null; then
    status=0
    wait "$program_pid" || status=$?
    program_pid=
    break
  fi
  sleep 0.1
done
if [ -z "$status" ]; then
  echo "demo.sh: the program did not close within 15 s" >&2
  exit 1
fi
[ "$status" -eq 0 ] || { echo "demo.sh: the program exited with status $status" >&2; exit 1; }
[ -s "$mp3" ] || { echo "demo.sh: no MP3 was written ($out/program.log)" >&2; exit 1; }

length=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$mp3")
# The strongest bin of sox's spectrum of the channels mixed (bins of about 11 Hz).
pitch=$(sox "$mp3" -n remix - stat -freq 2>&1 |
  awk 'NF == 2 && $1 + 0 == $1 && $2 > best { best = $2; f = $1 } END { printf "%.0f", f }')
printf 'MP3:        %s\n' "$mp3"
printf 'Length:     %.2f s (the hotkeys were %s s apart)\n' "$length" "$span"
printf 'Pitch:      about %s Hz (the tone played %s Hz)\n' "${pitch:-?}" "$freq"
printf 'Screenshot: %s\n' "$shot"
printf 'Settings:   %s\n' "$settings"
