#!/usr/bin/env bash
# What a hostile vendor server costs the window: every scenario of
# online_bench, each in a process of its own, offscreen. Run after a build.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
export QT_QPA_PLATFORM=offscreen
for scenario in page page-stream images header-page header-check header-report header-line bounds; do
  "$build/bin/online_bench" "$scenario" 2>/dev/null
done
