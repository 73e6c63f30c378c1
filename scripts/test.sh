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

# Wine runs the 32-bit Windows programs; some kernels are booted with 32-bit
# emulation off, and then nothing 32-bit can start. The DLL is still built
# (tests compiled, discovery deferred) and its export table checked, but the
# Windows suite and the differential scenes cannot run there.
if ! wine --version >/dev/null 2>&1; then
  echo "== windows build only: this machine cannot run 32-bit programs, so Wine cannot run"
  echo "   (the Windows suite and the differential scenes are not run here)"
  cmake --preset windows -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
  cmake --build --preset windows -j"$jobs"
  # The one Windows check that needs no Wine: the DLL's decorated export table.
  cmake -DDLL=build/windows/bin/vek.dll \
    -DOBJDUMP="$(sed -n 's/^CMAKE_OBJDUMP:[A-Z]*=//p' build/windows/CMakeCache.txt)" \
    -DEXPECTED=tests/vek/expected_exports_win32.txt -P tests/vek/check_dll_exports.cmake
  echo "windows export table: 1 passed, 0 failed"
  exit 0
fi

echo "== windows build, tests under Wine"
# One Wine session for the build (test discovery runs the programs) and the run.
bash scripts/wine-test.sh start
trap 'bash scripts/wine-test.sh stop || true' EXIT
cmake --preset windows -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=POST_BUILD >/dev/null
cmake --build --preset windows -j"$jobs"
ctest --preset windows

echo "== differential scenes: software device against Wine's Direct3D 8"
bash scripts/differential.sh build/debug/bin build/windows/bin
