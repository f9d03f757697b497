#!/usr/bin/env bash
# Builds and runs the player benchmark: makes a 30-minute VBR file without a
# Xing/Info header (sox noise through lame -t) and a minute of noise in which
# what is heard can be found, in a temporary folder, starts the private
# PulseAudio null sink and prints the figures.
# Usage: bench/run_player_bench.sh [build folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
. bench/bench_setup.sh
orvex_bench_setup "$build" player_bench
echo "Making a 30-minute VBR file without header..."
# Pink noise whose loudness drifts, so the bit rate varies and no stretch of
# the signal repeats another.
sox -n -r 44100 -b 16 -c 2 -t wav - synth 1800 pinknoise tremolo 0.05 60 gain -6 2>/dev/null |
  lame --quiet -V2 -t - "$work/long.mp3"
ls -l "$work/long.mp3"
sox -R -n -r 44100 -b 16 -c 2 -t wav - synth 60 pinknoise gain -9 2>/dev/null |
  lame --quiet --noreplaygain -b 128 --cbr - "$work/noise.mp3"
# Ten seconds of noise as VBR without a Xing/Info header, for the loop seams.
sox -R -n -r 44100 -b 16 -c 2 -t wav - synth 10 pinknoise tremolo 0.5 60 gain -9 2>/dev/null |
  lame --quiet --noreplaygain -V2 -t - "$work/vbr_noise.mp3"

orvex_pulse_start
"$build/bin/player_bench" tests/data "$work/long.mp3" "$work/noise.mp3"
echo
"$build/bin/player_bench" --loops tests/data/noise.mp3 "$work/vbr_noise.mp3" 100
echo
"$build/bin/player_bench" --speed "$work/noise.mp3"
echo
"$build/bin/player_bench" --handons "$work/noise.mp3" 100
echo
# The player alone on the sound server: without the silent keeper stream the
# null sink runs at the pace the player's own stream asks for.
kill "$ORVEX_PACAT_PID" && orvex_wait_gone "$ORVEX_PACAT_PID"
ORVEX_PACAT_PID=""
"$build/bin/player_bench" --calls "$work/noise.mp3"
