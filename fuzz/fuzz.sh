# Sourced by scripts/fuzz and scripts/test from the top of the tree: builds the
# fuzz targets of fuzz/ with clang in build-fuzz and runs one of them.

ORVEX_FUZZ_TARGETS=(mpeg_scan lrc ini sentence_cache version_reply)

# Configures build-fuzz (extra cmake arguments are passed on) and builds the
# targets, and only them: the logic library and the fuzzers.
orvex_fuzz_build() {
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEX_FUZZ=ON \
    -DORVEX_BUILD_UI=OFF -DORVEX_BUILD_BENCH=OFF -DBUILD_TESTING=OFF "$@" >/dev/null &&
    cmake --build build-fuzz -j"$(nproc)" --target orvex_fuzz
}

# orvex_fuzz_run TARGET NEW_INPUTS CRASH_PREFIX [libFuzzer option...]
# Runs the target from its seeds in fuzz/corpus/TARGET; new inputs go to the
# folder NEW_INPUTS, a crashing input to CRASH_PREFIX<kind>-<hash>. A crash,
# a leak, an input that takes over 10 s or a broken promise fails.
orvex_fuzz_run() {
  local target=$1 inputs=$2 crashes=$3
  shift 3
  mkdir -p "$inputs" || return 1
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "build-fuzz/bin/fuzz_$target" -timeout=10 -artifact_prefix="$crashes" "$@" \
    "$inputs" "fuzz/corpus/$target"
}
