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

# A Windows build's suite under Wine (one session for the build, whose test
# discovery runs the programs, and the run), then the differential scenes.
wine_stage() {
  local preset=$1 arch=$2
  echo "== $preset build, tests under Wine ($arch)"
  export VEK_WINE_ARCH=$arch
  bash scripts/wine-test.sh --arch "$arch" start
  trap "bash scripts/wine-test.sh --arch $arch stop || true" EXIT
  cmake --preset "$preset" -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=POST_BUILD >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset"
  echo "== differential scenes: software device against Wine's Direct3D 8 ($arch)"
  bash scripts/differential.sh build/debug/bin "build/$preset/bin"
}

# Wine runs the 32-bit Windows programs; some kernels are booted with 32-bit
# emulation off, and then nothing 32-bit can start. The 32-bit DLL is then
# still built (tests compiled, discovery deferred) and its export table
# checked, and the Windows suite and the differential scenes run on a 64-bit
# build of the same sources under 64-bit Wine instead: the same Wine
# Direct3D 8, GDI and kernel, only without what is 32-bit alone (decorated
# names, which the export check covers, and x87 arithmetic).
if wine --version >/dev/null 2>&1; then
  wine_stage windows win32
  exit 0
fi
echo "== windows build only: this machine cannot run 32-bit programs, so 32-bit Wine cannot run"
cmake --preset windows -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
cmake --build --preset windows -j"$jobs"
# The one Windows check that needs no Wine: the DLL's decorated export table.
cmake -DDLL=build/windows/bin/vek.dll \
  -DOBJDUMP="$(sed -n 's/^CMAKE_OBJDUMP:[A-Z]*=//p' build/windows/CMakeCache.txt)" \
  -DEXPECTED=tests/vek/expected_exports_win32.txt -P tests/vek/check_dll_exports.cmake
echo "windows export table: 1 passed, 0 failed"
wine_stage windows64 win64
