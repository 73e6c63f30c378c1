#!/usr/bin/env bash
# Builds and runs every test: the POSIX suite in a normal build and under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the Windows build
# (vek.dll, mingw-w64) with its suite under Wine on the real Direct3D 8.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/install-windows-deps.sh
jobs=$(nproc)
for preset in debug asan; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done

bash scripts/fuzz.sh 60  # the image fuzzer under ASan + UBSan, about a minute

echo "== windows build, tests under Wine"
# One Wine session for the build (test discovery runs the programs) and the run.
bash scripts/wine-test.sh start
trap 'bash scripts/wine-test.sh stop || true' EXIT
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
ctest --preset windows

echo "== differential scenes: software device against Wine's Direct3D 8"
bash scripts/differential.sh build/debug/bin build/windows/bin
