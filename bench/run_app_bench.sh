#!/usr/bin/env bash
# Start-up (5 warm runs), peak memory and tick cost of the program, offscreen,
# playing into a private null sink. Run after a build (scripts/test or cmake).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
. scripts/pulse.sh
trap orvex_pulse_stop EXIT
orvex_pulse_start >/dev/null
export QT_QPA_PLATFORM=offscreen
"$build/bin/app_bench" startup >/dev/null 2>&1 || true  # warm the caches
for i in 1 2 3 4 5; do "$build/bin/app_bench" startup 2>/dev/null; done
"$build/bin/app_bench" memory 2>/dev/null
"$build/bin/app_bench" tick 2>/dev/null
