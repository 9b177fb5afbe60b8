# Sourced by the benchmark scripts: a private Xvfb and a private PulseAudio in a fresh $work
# folder, stopped by their own pids (and any pid added to bench_pids) when the script exits.
# After `start_servers MODULE...` (null sinks to load), DISPLAY, XDG_RUNTIME_DIR and
# PULSE_SERVER point at them and pulse_pid is the sound server's pid.

work=$(mktemp -d "/tmp/tonvale-$(basename "$0" .sh)-XXXXXX")
bench_pids=()
stop_servers() {
  local i
  for ((i = ${#bench_pids[@]} - 1; i >= 0; i--)); do
    kill "${bench_pids[i]}" 2>/dev/null || true
    wait "${bench_pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_servers EXIT

start_servers() {
  Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp -noreset 5>"$work/display" 2>/dev/null &
  bench_pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -n1 "$work/display")"

  export XDG_RUNTIME_DIR="$work/runtime" PULSE_RUNTIME_PATH="$work/runtime/pulse"
  mkdir -p "$XDG_RUNTIME_DIR"
  export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
  local loads=()
  for module in "$@"; do loads+=("--load=$module"); done
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    --log-target=file:"$work/pulse.log" --load=module-native-protocol-unix "${loads[@]}" &
  pulse_pid=$!
  bench_pids+=("$pulse_pid")
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
}
