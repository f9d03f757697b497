# Sourced by scripts/test: a private PulseAudio daemon with a null sink as the
# default output, so the player tests play real sound into a real device.
# Sets PULSE_SERVER and ORVEX_PULSE_DIR; orvex_pulse_stop ends it by its pid.

orvex_pulse_start() {
  ORVEX_PULSE_DIR=$(mktemp -d)
  chmod 700 "$ORVEX_PULSE_DIR"
  local d=$ORVEX_PULSE_DIR
  cat >"$d/null.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$d/native
load-module module-null-sink sink_name=ci_null format=s16le rate=44100 channels=2 norewinds=1 sink_properties=device.description=CI-Null-Sink
set-default-sink ci_null
set-default-source ci_null.monitor
PA
  export PULSE_SERVER="unix:$d/native"
  XDG_RUNTIME_DIR="$d" pulseaudio -n -F "$d/null.pa" --daemonize=no --exit-idle-time=-1 \
    --disallow-exit --use-pid-file=no --log-target="file:$d/pulse.log" >/dev/null 2>&1 &
  ORVEX_PULSE_PID=$!
  local i
  for i in $(seq 1 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  if ! pactl info >/dev/null 2>&1; then
    echo "PulseAudio did not start:" >&2
    cat "$d/pulse.log" >&2 || true
    return 1
  fi
  # An idle null sink renders in 2-second blocks; a silent low-latency stream
  # connected for the whole run keeps new streams starting at once.
  pacat --playback --raw --format=s16le --rate=44100 --channels=2 --latency-msec=20 \
    -d ci_null </dev/zero >/dev/null 2>&1 &
  ORVEX_PACAT_PID=$!
  for i in $(seq 1 100); do
    local lat
    lat=$(pactl list sinks 2>/dev/null | sed -n 's/^\s*Latency: \([0-9]*\) usec.*/\1/p' | head -n 1)
    [ -n "$lat" ] && [ "$lat" -lt 100000 ] && break
    sleep 0.1
  done
  export ORVEX_PULSE_DIR ORVEX_PULSE_PID ORVEX_PACAT_PID
  echo "PulseAudio null sink ready (pid $ORVEX_PULSE_PID)"
}

orvex_wait_gone() {
  local pid=$1 i
  for i in $(seq 1 50); do
    local st
    st=$(ps -o stat= -p "$pid" 2>/dev/null | tr -d ' ')
    { [ -z "$st" ] || [[ $st == Z* ]]; } && return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
}

orvex_pulse_stop() {
  [ -n "${ORVEX_PACAT_PID:-}" ] && kill "$ORVEX_PACAT_PID" 2>/dev/null && orvex_wait_gone "$ORVEX_PACAT_PID"
  [ -n "${ORVEX_PULSE_PID:-}" ] && kill "$ORVEX_PULSE_PID" 2>/dev/null && orvex_wait_gone "$ORVEX_PULSE_PID"
  [ -n "${ORVEX_PULSE_DIR:-}" ] && rm -rf "$ORVEX_PULSE_DIR"
  ORVEX_PACAT_PID="" ORVEX_PULSE_PID="" ORVEX_PULSE_DIR=""
}
