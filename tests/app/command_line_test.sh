#!/usr/bin/env bash
# The built program from outside: its options and exit statuses, and files named
# on its command line, judged by what the null sink's monitor hears.
# Usage: command_line_test.sh PROGRAM VERSION FIXTURE_FOLDER SCRIPT_FOLDER
# Uses the private PulseAudio of scripts/pulse.sh when PULSE_SERVER is set, else
# starts one of its own.
set -uo pipefail
absolute() { (cd "$(dirname "$1")" && echo "$PWD/$(basename "$1")"); }
program=$(absolute "$1") version=$2 fixtures=$(absolute "$3") scripts=$(absolute "$4")

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

work=$(mktemp -d)
own_pulse=""
app_pid="" rec_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$rec_pid" ] && kill "$rec_pid" 2>/dev/null
  [ -n "$own_pulse" ] && orvex_pulse_stop
  rm -rf "$work"
}
trap cleanup EXIT

# Runs the program without any display; keeps its status and both outputs.
run_bare() {
  (cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    "$program" "$@" >"$work/out" 2>"$work/err")
  status=$?
}

echo "== options"
run_bare --version
[ "$status" -eq 0 ] || fail "--version exits $status"
[ "$(cat "$work/out")" = "OrvexPlayer $version" ] || fail "--version printed '$(cat "$work/out")'"
[ -s "$work/err" ] && fail "--version wrote to stderr: $(cat "$work/err")"

run_bare --help
[ "$status" -eq 0 ] || fail "--help exits $status"
head -n 1 "$work/out" | grep -qx 'Usage: orvexplayer \[OPTION\]... \[FILE\]' ||
  fail "--help printed: $(head -n 3 "$work/out")"
[ -s "$work/err" ] && fail "--help wrote to stderr: $(cat "$work/err")"

for bad in --bogus -x.mp3 -platform; do
  run_bare "$bad" a.mp3
  [ "$status" -eq 2 ] || fail "$bad exits $status, not 2"
  [ -s "$work/out" ] && fail "$bad wrote to stdout: $(cat "$work/out")"
  grep -qF "unknown option '$bad'" "$work/err" || fail "$bad: no error on stderr"
  grep -q '^Usage: orvexplayer' "$work/err" || fail "$bad: no usage on stderr"
done

echo "== files"
if [ -z "${PULSE_SERVER:-}" ]; then
  . "$scripts/pulse.sh"
  orvex_pulse_start >/dev/null || { echo "no PulseAudio" >&2; exit 1; }
  own_pulse=1
fi
mkdir -p "$work/files" "$work/config"
cp "$fixtures/cbr_stereo.mp3" "$work/files/-x.mp3"
printf 'not a recording\n' >"$work/files/notes.txt"

# The index of the sink input the process $1 plays into; empty when none.
sink_input_of() {
  pactl list sink-inputs 2>/dev/null | awk -v pid="$1" '
    /^Sink Input #/ { index_ = substr($3, 2) }
    $1 == "application.process.id" && $3 == "\"" pid "\"" { print index_; exit }'
}

# Records the sink's monitor while the program runs with the given arguments in
# the folder of the files: until the program's stream has played 1.5 s, or, with
# --until-gone, until its stream has ended. Leaves the sound in $work/rec.raw.
run_and_record() {
  local mode=$1
  shift
  rm -f "$work/rec.raw"
  parec --raw --format=s16le --rate=44100 --channels=2 --latency-msec=20 \
    -d ci_null.monitor >"$work/rec.raw" 2>/dev/null &
  rec_pid=$!
  local i
  for i in $(seq 1 100); do
    [ -s "$work/rec.raw" ] && break
    sleep 0.05
  done
  (cd "$work/files" && exec env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" \
    http_proxy=http://127.0.0.1:9 HTTP_PROXY=http://127.0.0.1:9 no_proxy= NO_PROXY= \
    "$program" "$@" >"$work/app.log" 2>&1) &
  app_pid=$!
  local stream=""
  for i in $(seq 1 400); do
    stream=$(sink_input_of "$app_pid")
    [ -n "$stream" ] && break
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.05
  done
  if [ -n "$stream" ]; then
    if [ "$mode" = --until-gone ]; then
      for i in $(seq 1 200); do
        [ -z "$(sink_input_of "$app_pid")" ] && break
        sleep 0.05
      done
    else
      sleep 1.5
    fi
  fi
  running=0
  kill -0 "$app_pid" 2>/dev/null && running=1
  kill "$app_pid" 2>/dev/null
  wait "$app_pid" 2>/dev/null
  app_pid=""
  kill "$rec_pid" 2>/dev/null
  wait "$rec_pid" 2>/dev/null
  rec_pid=""
  heard_stream=$stream
}

# sox's figure $2 ("Maximum amplitude", "Rough frequency") of the recording
# after the remix $1 ("1": left, "2": right, "1,2v-1": left minus right).
figure() {
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$work/rec.raw" -n remix "$1" stat 2>&1 |
    awk -F: -v name="$2" '$1 == name { gsub(/ /, "", $2); print $2 }'
}
between() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

# The fixture plays 440 Hz on the left and 1000 Hz on the right: heard so, it is
# the file playing, not the warning sound.
for args in "-- -x.mp3" "./-x.mp3"; do
  # shellcheck disable=SC2086
  run_and_record --playing $args
  if [ -z "$heard_stream" ]; then
    fail "'$args': the program played nothing (running: $running): $(cat "$work/app.log")"
    continue
  fi
  [ "$running" -eq 1 ] || fail "'$args': the program ended"
  left=$(figure 1 "Rough   frequency")
  right=$(figure 2 "Rough   frequency")
  peak=$(figure 1 "Maximum amplitude")
  echo "'$args': left ${left} Hz, right ${right} Hz, peak $peak"
  between "$peak" 0.05 1 || fail "'$args': silent (peak $peak)"
  between "$left" 400 480 || fail "'$args': left channel at $left Hz, not the file's 440 Hz"
  between "$right" 920 1080 || fail "'$args': right channel at $right Hz, not the file's 1000 Hz"
done

# Another name gets the drop's answer: the warning sound (the same on both
# channels), and the program goes on running.
run_and_record --until-gone notes.txt
if [ -z "$heard_stream" ]; then
  fail "notes.txt: no warning sound: $(cat "$work/app.log")"
else
  peak=$(figure 1 "Maximum amplitude")
  difference=$(figure 1,2v-1 "Maximum amplitude")
  echo "notes.txt: peak $peak, left minus right $difference"
  between "$peak" 0.05 1 || fail "notes.txt: the warning sound is silent (peak $peak)"
  between "$difference" 0 0.01 || fail "notes.txt: not the warning sound (channels differ)"
fi
[ "$running" -eq 1 ] || fail "notes.txt: the program ended"
[ "$(cat "$work/files/notes.txt")" = "not a recording" ] || fail "notes.txt was changed"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "all passed"
