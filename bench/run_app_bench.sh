#!/usr/bin/env bash
# Start-up (5 warm runs), peak memory and tick cost of the program, offscreen,
# playing into a private null sink; then the CPU time of 20 s of playing the
# sample in a shown window on the xcb platform under Xvfb, beside a bare
# gst-launch-1.0 pipeline playing the same file in the same run. Run after a
# build (scripts/test or cmake).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
. scripts/deps.sh
orvex_install_packages xvfb xauth gstreamer1.0-tools
. scripts/pulse.sh
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  orvex_pulse_stop
}
trap cleanup EXIT
orvex_pulse_start >/dev/null
export QT_QPA_PLATFORM=offscreen
"$build/bin/app_bench" startup >/dev/null 2>&1 || true  # warm the caches
for i in 1 2 3 4 5; do "$build/bin/app_bench" startup 2>/dev/null; done
"$build/bin/app_bench" memory 2>/dev/null
"$build/bin/app_bench" tick 2>/dev/null

# The window on a real X server.
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/bin/app_bench" cpu 2>/dev/null
# The same 20 s through a bare pipeline; `times` gives the children's CPU.
bare=$(bash -c '
  timeout -s INT 20 gst-launch-1.0 -q filesrc location="$1" ! mpegaudioparse ! mpg123audiodec \
    ! audioconvert ! audioresample ! pulsesink >/dev/null 2>&1
  times' _ "$build/bin/eg.mp3" | tail -n 1)
echo "cpu: bare gst-launch-1.0 pipeline for 20 s: $bare (user, system)"
