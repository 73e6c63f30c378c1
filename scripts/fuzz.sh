#!/usr/bin/env bash
# Builds the image fuzzer with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer over the whole library) and runs it for a
# bounded time from a freshly generated seed corpus of every image format.
#
#   fuzz.sh [SECONDS] [BUILD_DIR]     default: 60 s in build/fuzz
#
# Half the time runs on a device that takes textures of any size, half on one
# that needs powers of two (pictures padded). Inputs found interesting are
# kept in BUILD_DIR/corpus between runs; a crashing input is written to
# BUILD_DIR/artifacts and the script fails. Reproduce one with
#   VEK_FUZZ_POW2=0|1 BUILD_DIR/bin/vek_image_fuzzer ARTIFACT
# Inputs that once failed are kept in fuzz/regressions and run first.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build/fuzz}

# Coverage instrumentation for every unit. The gcc builds hold the code to
# -Werror; clang-only warnings stay warnings here.
flags="-fsanitize=fuzzer-no-link -Wno-error=tautological-constant-out-of-range-compare"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14 -DVEK_WERROR=ON -DVEK_SANITIZE=ON -DVEK_FUZZ=ON -DVEK_BUILD_TESTS=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" --target vek_image_fuzzer vek_fuzz_seeds -j"$(nproc)"

seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds" "$build/corpus" "$build/artifacts"
"$build/bin/vek_fuzz_seeds" "$seeds"

# A failed allocation returns null as it does outside the sanitizer; one
# larger than the run's memory limit still counts as a finding.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The library prints a diagnostic on standard output for each refused input;
# those go to a file, libFuzzer's report stays on standard error.
for pow2 in 0 1; do
  VEK_FUZZ_POW2=$pow2 "$build/bin/vek_image_fuzzer" -max_total_time="$(((seconds + 1) / 2))" \
    -max_len=65536 -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/" "$build/corpus" "$seeds" fuzz/regressions \
    >"$build/fuzz-stdout.log"
done
