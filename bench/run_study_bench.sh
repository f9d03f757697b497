#!/usr/bin/env bash
# Builds and runs the study benchmark on the private null sink: the time to
# first sound with and without a study memory of 200 saved loops, and the
# lesson list of a folder of 2,000 files.
# Usage: bench/run_study_bench.sh [build folder] [rounds]   (default: build 9)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-9}
. bench/bench_setup.sh
orvex_bench_setup "$build" study_bench
orvex_pulse_start
"$build/bin/study_bench" "$build/bin" "$rounds"
