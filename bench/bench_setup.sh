# Sourced by the benchmark scripts: builds the benchmark target in Release,
# and makes a temporary folder ($work) that goes, with the private PulseAudio
# daemon if one was started (scripts/pulse.sh), when the script exits.
# Usage: orvex_bench_setup <build folder> <target>

. scripts/pulse.sh

orvex_bench_setup() {
  local build=$1 target=$2
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target "$target" -j"$(nproc)" >/dev/null
  work=$(mktemp -d)
  # The cleanup must not stop at the first failing command.
  trap 'set +e; orvex_pulse_stop; rm -rf "$work"' EXIT
}
