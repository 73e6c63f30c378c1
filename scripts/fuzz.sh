#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer over the whole library) and runs each one:
#
#   image     pictures of every format, every colour effect, every read
#   text      fonts, measuring and drawing text
#   particle  particle systems from every argument, emitting from pictures
#   frame     sequences of draw calls, clips, surfaces, loss and reset
#   capture   screen capture rectangles
#
#   fuzz.sh [BUILD_DIR]              the test command's short run (about 90 s)
#   fuzz.sh --all SECONDS [BUILD_DIR]
#                                    the long run: SECONDS per target
#
# The image target runs half its time on a device that takes textures of
# any size and half on one that needs powers of two (pictures padded).
# Each target starts from its kept corpus (fuzz/corpus/NAME, minimised) and
# runs the inputs that once failed (fuzz/regressions) first; new inputs go
# to BUILD_DIR/corpus/NAME. A failing input is written to
# BUILD_DIR/artifacts and the script fails. Reproduce one with
#   [VEK_FUZZ_POW2=1] BUILD_DIR/bin/vek_NAME_fuzzer ARTIFACT
# At the end a table gives, per target, the inputs run, inputs a second and
# the coverage reached.
set -euo pipefail
cd "$(dirname "$0")/.."

long=0
if [[ ${1:-} == --all ]]; then
  long=${2:?fuzz.sh --all SECONDS}
  shift 2
fi
build=${1:-build/fuzz}

# Coverage instrumentation for every unit. The gcc builds hold the code to
# -Werror; clang-only warnings stay warnings here.
flags="-fsanitize=fuzzer-no-link -Wno-error=tautological-constant-out-of-range-compare"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14 -DVEK_WERROR=ON -DVEK_SANITIZE=ON -DVEK_FUZZ=ON -DVEK_BUILD_TESTS=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
targets=(image text particle frame capture)
cmake --build "$build" -j"$(nproc)" --target vek_fuzz_seeds \
  $(printf 'vek_%s_fuzzer ' "${targets[@]}")

# The image target's seeds: one small picture of every format, made fresh.
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds" "$build/artifacts"
"$build/bin/vek_fuzz_seeds" "$seeds" >/dev/null

# A failed allocation returns null as it does outside the sanitizer; one
# larger than the run's memory limit still counts as a finding.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# fontconfig keeps what it parsed for the life of the process.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}

# Seconds per target in the short run (the image target's split in two).
declare -A short=([image]=30 [text]=15 [particle]=15 [frame]=20 [capture]=10)
summary=()

# run NAME SECONDS [VAR=VALUE]: one libFuzzer run, its statistics kept.
run() {
  local name=$1 seconds=$2 env=${3:-} log
  log=$build/$name${env:+-${env##*=}}.log
  mkdir -p "$build/corpus/$name"
  local inputs=("$build/corpus/$name")
  [[ -d fuzz/corpus/$name ]] && inputs+=("fuzz/corpus/$name")
  [[ $name == image ]] && inputs+=("$seeds")
  # Inputs that once failed run first, each once, then join the corpus.
  if compgen -G "fuzz/regressions/$name/*" >/dev/null; then
    if ! env $env "$build/bin/vek_${name}_fuzzer" fuzz/regressions/"$name"/* 2>"$log"; then
      tail -n 40 "$log"
      echo "fuzz.sh: a kept regression input of the $name fuzzer fails again"
      exit 1
    fi
    inputs+=("fuzz/regressions/$name")
  fi
  local dict=()
  [[ -f fuzz/$name.dict ]] && dict=(-dict="fuzz/$name.dict")
  echo "== $name fuzzer${env:+ ($env)}: $seconds s"
  if ! env $env "$build/bin/vek_${name}_fuzzer" -max_total_time="$seconds" -max_len=65536 \
    -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 "${dict[@]}" \
    -artifact_prefix="$build/artifacts/" "${inputs[@]}" 2>"$log"; then
    tail -n 40 "$log"
    echo "fuzz.sh: the $name fuzzer failed (a failing input is in $build/artifacts)"
    exit 1
  fi
  local executed rate cov
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  rate=$((executed / (seconds > 0 ? seconds : 1)))
  summary+=("$(printf '%-10s %-8s %10s %8s %7s' "$name" "${env##*=}" "$executed" "$rate" "$cov")")
}

for name in "${targets[@]}"; do
  seconds=${short[$name]}
  ((long > 0)) && seconds=$long
  if [[ $name == image ]]; then
    run image $(((seconds + 1) / 2)) VEK_FUZZ_POW2=0
    run image $(((seconds + 1) / 2)) VEK_FUZZ_POW2=1
  else
    run "$name" "$seconds"
  fi
done

printf '%-10s %-8s %10s %8s %7s\n' target pow2 inputs "per s" cov
printf '%s\n' "${summary[@]}"
