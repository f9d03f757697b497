#!/usr/bin/env bash
# Builds and runs the engine benchmark on the private null sink: the GUI
# thread's time per command, and how soon a jump, a pause and a change of
# speed are heard, on a minute of noise made here.
# Usage: bench/run_engine_bench.sh [build folder] [rounds]   (default: build 20)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-20}
. bench/bench_setup.sh
orvex_bench_setup "$build" engine_bench
sox -R -n -r 44100 -b 16 -c 2 -t wav - synth 60 whitenoise gain -9 2>/dev/null |
  lame --quiet --noreplaygain -b 192 --cbr - "$work/noise.mp3"
orvex_pulse_start
XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state XDG_CACHE_HOME=$work/cache \
  XDG_DATA_HOME=$work/data "$build/bin/engine_bench" "$work/noise.mp3" "$rounds"
