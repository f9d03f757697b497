#!/usr/bin/env bash
# Builds and runs the sentence benchmark: speaks a 60-minute lesson (128 kb/s
# stereo) and a tone to play, in a temporary folder, then prints the figures
# of the analysis on one core and of playback while it runs (the private
# PulseAudio null sink is started for that part).
# Usage: bench/run_sentence_bench.sh [build folder] [minutes]   (default: build 60)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
minutes=${2:-60}
. bench/bench_setup.sh
orvex_bench_setup "$build" sentence_bench
echo "Speaking a $minutes-minute lesson..."
tests/sentences/make_lessons.sh --long "$minutes" "$work"
ls -l "$work/long.mp3"
sox -r 44100 -c 2 -b 16 -n -t wav - synth 60 sine 440 gain -6 2>/dev/null |
  lame --quiet --noreplaygain -b 320 - "$work/tone.mp3"

"$build/bin/sentence_bench" analyse "$work/long.mp3" "$work/long.truth"
orvex_pulse_start
"$build/bin/sentence_bench" dropouts "$work/tone.mp3" "$work/long.mp3" 440
