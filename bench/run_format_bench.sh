#!/usr/bin/env bash
# Builds and runs the format benchmark: makes the lessons of every format in a
# temporary folder (tests/formats/make_formats.sh) and prints, per file and
# beside decodebin3, position 0, seek and loop errors, the length's error, the
# time to open and the CPU of decoding. No sound server needed.
# Usage: bench/run_format_bench.sh [build folder] [rounds]   (default: build 3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-3}
. bench/bench_setup.sh
orvex_bench_setup "$build" format_bench
tests/formats/make_formats.sh "$work"
"$build/bin/format_bench" "$work" "$rounds"
