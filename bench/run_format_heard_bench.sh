#!/usr/bin/env bash
# Every lesson format heard on the private null sink's monitor beside MP3, in
# one run: three jumps and a loop of [2.0 s, 2.5 s) played many times, each
# located in ffmpeg's decoding of the same file. Prints per format the largest
# and the mean error where a pass ends at B and the next starts at A (sound
# lost or doubled there), the first A, the last B and the jumps' largest
# error. About 60 s a format at 100 passes.
# Usage: bench/run_format_heard_bench.sh [build folder] [passes]   (default: build 100)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
passes=${2:-100}
. bench/bench_setup.sh
orvex_bench_setup "$build" formats_heard_test
ctest --test-dir "$build" -R formats_make_fixtures >/dev/null
orvex_pulse_start
ORVEX_HEARD_PASSES=$passes "$build/bin/formats_heard_test" 2>&1 | grep -E "ms, start|FAILED|Failure" || true
