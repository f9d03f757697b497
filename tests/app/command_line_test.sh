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
. "$(dirname "$0")/../support/program_sound.sh"
first_pid=""
trap '[ -n "$first_pid" ] && kill "$first_pid" 2>/dev/null; orvex_sound_cleanup; rm -rf "$work"' EXIT

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
head -n 1 "$work/out" | grep -qx 'Usage: orvexplayer \[OPTION\]... \[FILE\]...' ||
  fail "--help printed: $(head -n 3 "$work/out")"
[ -s "$work/err" ] && fail "--help wrote to stderr: $(cat "$work/err")"

for bad in --bogus -x.mp3 -platform; do
  run_bare "$bad" a.mp3
  [ "$status" -eq 2 ] || fail "$bad exits $status, not 2"
  [ -s "$work/out" ] && fail "$bad wrote to stdout: $(cat "$work/out")"
  grep -qF "unknown option '$bad'" "$work/err" || fail "$bad: no error on stderr"
  grep -q '^Usage: orvexplayer' "$work/err" || fail "$bad: no usage on stderr"
done

echo "== no display"
# A file to open but no display to open the window on: one line that says so
# and names the display, and status 1 (not Qt's abort and a core dump). The
# settings are those of a shell outside any desktop.
run_without_display() {
  (cd "$work" && timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE \
    "$@" "$program" a.mp3 >"$work/out" 2>"$work/err")
  status=$?
}
for setting in DISPLAY=:999 "" QT_QPA_PLATFORM=nonesuch; do
  # shellcheck disable=SC2086
  run_without_display $setting
  what=${setting:-"nothing set"}
  [ "$status" -eq 1 ] || fail "$what: exits $status, not 1: $(head -c 300 "$work/err")"
  [ -s "$work/out" ] && fail "$what: wrote to stdout: $(cat "$work/out")"
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "$what: not one line on stderr: $(head -c 600 "$work/err")"
  grep -q '^orvexplayer: no display could be opened' "$work/err" || fail "$what: said $(cat "$work/err")"
  [ -n "$setting" ] && ! grep -qF "$setting" "$work/err" && fail "$what: not named: $(cat "$work/err")"
done

echo "== files"
orvex_sound_setup "$scripts" || { echo "no PulseAudio" >&2; exit 1; }
mkdir -p "$work/files"
cp "$fixtures/cbr_stereo.mp3" "$work/files/-x.mp3"
printf 'not a recording\n' >"$work/files/notes.txt"

# A first copy runs through all of it: every later start is a second copy.
mkdir -p "$work/first"
(cd "$work/files" && exec env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/first" XDG_STATE_HOME="$work/first" \
  http_proxy=http://127.0.0.1:9 HTTP_PROXY=http://127.0.0.1:9 "$program" >"$work/first.log" 2>&1) &
first_pid=$!

# The fixture plays 440 Hz on the left and 1000 Hz on the right: heard so, it is
# the file playing, not the warning sound.
for args in "-- -x.mp3" "./-x.mp3"; do
  # shellcheck disable=SC2086
  orvex_run_and_record --playing "$program" "$work/files" $args
  if [ -z "$heard_stream" ]; then
    fail "'$args': the program played nothing (running: $running): $(cat "$work/app.log")"
    continue
  fi
  [ "$running" -eq 1 ] || fail "'$args': the program ended"
  left=$(orvex_figure 1 "Rough   frequency")
  right=$(orvex_figure 2 "Rough   frequency")
  peak=$(orvex_figure 1 "Maximum amplitude")
  echo "'$args': left ${left} Hz, right ${right} Hz, peak $peak"
  orvex_between "$peak" 0.05 1 || fail "'$args': silent (peak $peak)"
  orvex_between "$left" 400 480 || fail "'$args': left channel at $left Hz, not the file's 440 Hz"
  orvex_between "$right" 920 1080 || fail "'$args': right at $right Hz, not the file's 1000 Hz"
done

# Another name gets the drop's answer: the warning sound, and the program goes
# on running.
orvex_run_and_record --until-gone "$program" "$work/files" notes.txt
if [ -z "$heard_stream" ]; then
  fail "notes.txt: no warning sound: $(cat "$work/app.log")"
else
  orvex_heard_warning_sound || fail "notes.txt: not the warning sound"
fi
[ "$running" -eq 1 ] || fail "notes.txt: the program ended"
[ "$(cat "$work/files/notes.txt")" = "not a recording" ] || fail "notes.txt was changed"

if kill -0 "$first_pid" 2>/dev/null; then
  kill "$first_pid"
else
  fail "the first copy ended: $(cat "$work/first.log")"
fi
wait "$first_pid" 2>/dev/null
first_pid=""

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "all passed"
