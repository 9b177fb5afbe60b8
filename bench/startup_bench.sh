#!/usr/bin/env bash
# Start-up time of the program: from the moment it is started to its main window being shown
# with both device lists filled, on a private Xvfb and a private PulseAudio with two null
# sinks. The program reports the first show of its window on stderr ("tonvale.status: shown",
# enabled through QT_LOGGING_RULES); the script also notes when xdotool first sees the window
# mapped. One warm-up run, then RUNS measured runs; prints each and the median.
# Usage: bench/startup_bench.sh <build dir> [runs]
set -euo pipefail

build=${1:?build directory}
runs=${2:-9}
program="$build/bin/sonarelrecorder"
[ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }

source "$(dirname "$0")/private_servers.sh"
start_servers "module-null-sink sink_name=bench_a sink_properties=device.description=bench_a" \
  "module-null-sink sink_name=bench_b sink_properties=device.description=bench_b"

export XDG_CONFIG_HOME="$work/config" TMPDIR="$work"
export QT_LOGGING_RULES="tonvale.status.debug=true"
unset QT_QPA_PLATFORM

# One start: prints "<ms to shown> <ms to mapped>".
measure() {
  rm -f "$work/fifo"
  mkfifo "$work/fifo"
  local t0 t1 t2 pid line
  t0=$EPOCHREALTIME
  "$program" 2>"$work/fifo" >/dev/null &
  pid=$!
  exec 3<"$work/fifo"
  t1=
  while IFS= read -r -u 3 line; do
    if [[ $line == *"tonvale.status: shown"* ]]; then t1=$EPOCHREALTIME; break; fi
  done
  t2=
  while [ -n "$t1" ]; do
    if xdotool search --onlyvisible --name '^Tonvale$' >/dev/null 2>&1; then
      t2=$EPOCHREALTIME
      break
    fi
  done
  kill -TERM "$pid"
  cat <&3 >/dev/null
  exec 3<&-
  wait "$pid" || true
  [ -n "$t1" ] || { echo "the window was never shown" >&2; exit 1; }
  awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN { printf "%.1f %.1f\n", (b-a)*1000, (c-a)*1000 }'
}

measure >/dev/null  # warm-up: fresh settings, cold caches
results=()
for i in $(seq "$runs"); do
  r=$(measure)
  results+=("$r")
  echo "run $i: shown ${r% *} ms, mapped ${r#* } ms"
done
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2 }'; }
printf 'median of %d runs: shown %s ms, mapped %s ms (target 300 ms)\n' "$runs" \
  "$(printf '%s\n' "${results[@]}" | cut -d' ' -f1 | median)" \
  "$(printf '%s\n' "${results[@]}" | cut -d' ' -f2 | median)"
