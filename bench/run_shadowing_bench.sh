#!/usr/bin/env bash
# Builds and runs the shadowing benchmark on the private PulseAudio: a second
# null sink "mic", whose monitor is the default input, is fed with endless
# noise while the player loops [0.8 s, 2.8 s) of a lesson with takes. Prints,
# per cycle and over all, when each take began after its pass was heard to
# end, when it was heard back after its window, the silence between passes,
# then the CPU of looping with takes beside plain looping.
# Usage: bench/run_shadowing_bench.sh [build folder] [cycles]   (default: build 8)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cycles=${2:-8}
. bench/bench_setup.sh
orvex_bench_setup "$build" shadowing_bench
orvex_pulse_start
pactl load-module module-null-sink sink_name=mic format=s16le rate=48000 channels=1 >/dev/null
pactl set-default-source mic.monitor
# Noise that never repeats, at about -20 dB: the learner speaking throughout.
head -c $((48000 * 2 * 600)) /dev/urandom | \
  perl -e 'binmode STDIN; binmode STDOUT; while (read(STDIN, $b, 65536)) { print pack("s<*", map { $_ >> 4 } unpack("s<*", $b)); }' \
  >"$work/noise.raw"
pacat --playback --raw --format=s16le --rate=48000 --channels=1 --latency-msec=20 --device=mic \
  "$work/noise.raw" &
feed=$!
trap 'set +e; kill $feed 2>/dev/null; orvex_pulse_stop; rm -rf "$work"' EXIT
sleep 0.5
QT_QPA_PLATFORM=offscreen "$build/bin/shadowing_bench" tests/data/noise.mp3 "$cycles"
