#!/usr/bin/env bash
# Start-up (5 warm runs), peak memory and tick cost of the program, offscreen,
# playing into a private null sink; then the CPU time of 20 s of playing the
# sample in a shown window on the xcb platform under Xvfb (with the wave strip
# hidden and shown), beside a bare
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
# Hidden and shown wave strip in turn, twice (goal: shown <= 1.3x hidden).
for round in 1 2; do
  DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/bin/app_bench" cpu 2>/dev/null
  DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/bin/app_bench" cpu-wave 2>/dev/null
done

# The program itself, as a learner runs it (zh_CN, so the CJK font is
# loaded), measured from outside: CPU time and peak RSS of 20 s of playing the
# sample in the shown window, then a bare gst-launch-1.0 pipeline playing the
# same file for 20 s, three rounds in turn.
orvex_ensure_locale zh_CN.UTF-8
hz=$(getconf CLK_TCK)
# CPU seconds (user+system) of a process from /proc/PID/stat.
cpu_of() { awk -v hz="$hz" '{ sub(/^.*\) /, ""); printf "%.3f", ($12 + $13) / hz }' "/proc/$1/stat"; }
for round in 1 2 3; do
  home=$(mktemp -d)
  DISPLAY=$display QT_QPA_PLATFORM=xcb LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 HOME=$home \
    XDG_CONFIG_HOME=$home/.config XDG_CACHE_HOME=$home/.cache \
    "$build/bin/orvexplayer" "$build/bin/eg.mp3" >/dev/null 2>&1 &
  pid=$!
  sleep 2  # start-up and the first paint are not part of the figure
  before=$(cpu_of "$pid")
  sleep 20
  after=$(cpu_of "$pid")
  hwm=$(awk '/^VmHWM:/ { printf "%.1f", $2 / 1024 }' "/proc/$pid/status")
  kill "$pid"; wait "$pid" 2>/dev/null || true
  rm -rf "$home"
  gst-launch-1.0 -q filesrc location="$build/bin/eg.mp3" ! mpegaudioparse ! mpg123audiodec \
    ! audioconvert ! audioresample ! pulsesink >/dev/null 2>&1 &
  bare=$!
  sleep 2
  bare_before=$(cpu_of "$bare")
  sleep 20
  bare_after=$(cpu_of "$bare")
  kill -INT "$bare"; wait "$bare" 2>/dev/null || true
  awk -v a="$before" -v b="$after" -v c="$bare_before" -v d="$bare_after" -v m="$hwm" -v r="$round" \
    'BEGIN { w = b - a; g = d - c;
             printf "window (zh_CN, xcb) round %d: %.2f s CPU for 20 s, bare pipeline %.2f s: %.2fx; peak RSS %s MB\n",
                    r, w, g, (g > 0 ? w / g : 0), m }'
done
