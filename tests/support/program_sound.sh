# shellcheck shell=bash
# Sourced by the tests that run the built or the installed program from outside:
# they start it offscreen, record the null sink's monitor while it plays, and
# measure the recording with sox. Needs a private PulseAudio (scripts/pulse.sh):
# orvex_sound_setup starts one unless PULSE_SERVER is set already, and
# orvex_sound_cleanup ends what it started.
# Uses $work, a scratch folder of the caller's.

orvex_sound_own_pulse="" orvex_app_pid="" orvex_rec_pid=""

orvex_sound_setup() {
  local scripts=$1
  if [ -z "${PULSE_SERVER:-}" ]; then
    . "$scripts/pulse.sh"
    orvex_pulse_start >/dev/null || return 1
    orvex_sound_own_pulse=1
  fi
}

orvex_sound_cleanup() {
  [ -n "$orvex_app_pid" ] && kill "$orvex_app_pid" 2>/dev/null
  [ -n "$orvex_rec_pid" ] && kill "$orvex_rec_pid" 2>/dev/null
  [ -n "$orvex_sound_own_pulse" ] && orvex_pulse_stop
  orvex_sound_own_pulse="" orvex_app_pid="" orvex_rec_pid=""
}

# The index of the sink input the process $1 plays into; empty when none.
orvex_sink_input_of() {
  pactl list sink-inputs 2>/dev/null | awk -v pid="$1" '
    /^Sink Input #/ { index_ = substr($3, 2) }
    $1 == "application.process.id" && $3 == "\"" pid "\"" { print index_; exit }'
}

# Records the sink's monitor while PROGRAM runs in FOLDER with the remaining
# arguments (offscreen, settings in $work/config, no network): until the
# program's stream has played 1.5 s (--playing), or until its stream has ended
# (--until-gone). Leaves the sound in $work/rec.raw, the program's output in
# $work/app.log, and sets heard_stream (empty when the program played nothing)
# and running (1 when the program was still running before it was ended).
orvex_run_and_record() {
  local mode=$1 program=$2 folder=$3
  shift 3
  mkdir -p "$work/config"
  rm -f "$work/rec.raw"
  parec --raw --format=s16le --rate=44100 --channels=2 --latency-msec=20 \
    -d ci_null.monitor >"$work/rec.raw" 2>/dev/null &
  orvex_rec_pid=$!
  local i
  for i in $(seq 1 100); do
    [ -s "$work/rec.raw" ] && break
    sleep 0.05
  done
  (cd "$folder" && exec env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" \
    http_proxy=http://127.0.0.1:9 HTTP_PROXY=http://127.0.0.1:9 no_proxy= NO_PROXY= \
    "$program" "$@" >"$work/app.log" 2>&1) &
  orvex_app_pid=$!
  local stream=""
  for i in $(seq 1 400); do
    stream=$(orvex_sink_input_of "$orvex_app_pid")
    [ -n "$stream" ] && break
    kill -0 "$orvex_app_pid" 2>/dev/null || break
    sleep 0.05
  done
  if [ -n "$stream" ]; then
    if [ "$mode" = --until-gone ]; then
      for i in $(seq 1 200); do
        [ -z "$(orvex_sink_input_of "$orvex_app_pid")" ] && break
        sleep 0.05
      done
    else
      sleep 1.5
    fi
  fi
  running=0
  kill -0 "$orvex_app_pid" 2>/dev/null && running=1
  kill "$orvex_app_pid" 2>/dev/null
  wait "$orvex_app_pid" 2>/dev/null
  orvex_app_pid=""
  kill "$orvex_rec_pid" 2>/dev/null
  wait "$orvex_rec_pid" 2>/dev/null
  orvex_rec_pid=""
  heard_stream=$stream
}

# sox's figure $2 ("Maximum amplitude", "Rough   frequency") of the recording
# after the remix $1 ("1": left, "2": right, "1,2v-1": left minus right).
orvex_figure() {
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$work/rec.raw" -n remix "$1" stat 2>&1 |
    awk -F: -v name="$2" '$1 == name { gsub(/ /, "", $2); print $2 }'
}

# True when the number $1 lies in [$2, $3].
orvex_between() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

# Checks that the recording is the warning sound: heard, and the same on both
# channels. Prints what it measured; returns 1 with a reason on stderr if not.
orvex_heard_warning_sound() {
  local peak difference
  peak=$(orvex_figure 1 "Maximum amplitude")
  difference=$(orvex_figure 1,2v-1 "Maximum amplitude")
  echo "warning sound: peak $peak, left minus right $difference"
  orvex_between "$peak" 0.05 1 || { echo "silent (peak $peak)" >&2; return 1; }
  orvex_between "$difference" 0 0.01 || { echo "channels differ: not the warning sound" >&2; return 1; }
}
