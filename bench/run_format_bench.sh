#!/usr/bin/env bash
# Builds and runs the format benchmark: makes the lessons of every format in a
# temporary folder (tests/formats/make_formats.sh) and prints, per file and
# beside decodebin3, position 0, seek and loop errors, the length's error, the
# time to open and the CPU of decoding; then, through the player on the
# private null sink and beside MP3, the time to the first sample and the CPU
# of playing.
# Usage: bench/run_format_bench.sh [build folder] [rounds]   (default: build 3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-3}
. bench/bench_setup.sh
orvex_bench_setup "$build" format_bench
cmake --build "$build" --target player_format_bench -j"$(nproc)" >/dev/null
tests/formats/make_formats.sh "$work"
"$build/bin/format_bench" "$work" "$rounds"
echo
# Through the player, beside MP3, on the private null sink.
orvex_pulse_start
"$build/bin/player_format_bench" "$work" "$rounds"
