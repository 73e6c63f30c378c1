#!/usr/bin/env bash
# Builds and runs every test: the POSIX suite in a normal build and under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded font test under
# ThreadSanitizer, the fuzz targets, then the
# Windows build (vek.dll, mingw-w64) with its suite under Wine on the real
# Direct3D 8, then the differential scenes.
#
# Every stage runs even when an earlier one failed (a failing Windows suite
# must not hide the scenes); each is reported, and the script fails at the
# end if any did. `test.sh --stage NAME` runs one stage alone.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# Wine runs the 32-bit Windows programs; some kernels are booted with 32-bit
# emulation off, and then nothing 32-bit can start. The 32-bit DLL is then
# still built (tests compiled, discovery deferred), its export table and its
# arithmetic checked, and the Windows suite and the differential scenes run
# on a 64-bit build of the same sources under 64-bit Wine instead: the same
# Wine Direct3D 8, GDI and kernel, only without what is 32-bit alone
# (decorated names, which the export check covers, and x87 arithmetic,
# which the x87 guard covers).
wine_arch() {
  if wine --version >/dev/null 2>&1; then echo win32; else echo win64; fi
}

posix_stage() {
  local preset=$1
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
}

# The runtime without SDL2 (no real windows): it builds, its real-window
# calls fail with a message, and every other test passes.
nosdl_stage() {
  cmake -S . -B build/nosdl -DCMAKE_BUILD_TYPE=Debug -DVEK_WERROR=ON -DVEK_SDL2=OFF >/dev/null
  cmake --build build/nosdl -j"$jobs"
  (cd build/nosdl && ctest -j"$jobs" --timeout 300)
}

# The 32-bit product build on any machine. Linking vek.dll runs the x87
# guard (cmake/X87Guard.cmake); the guard's own check and the decorated
# export table need no Wine.
windows_build_stage() {
  local discovery=PRE_TEST
  [[ $(wine_arch) == win32 ]] && discovery=POST_BUILD
  if [[ $discovery == POST_BUILD ]]; then
    bash scripts/wine-test.sh --arch win32 start
    trap "bash scripts/wine-test.sh --arch win32 stop || true" EXIT
  fi
  cmake --preset windows -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=$discovery >/dev/null
  cmake --build --preset windows -j"$jobs"
  local objdump nm
  objdump=$(sed -n 's/^CMAKE_OBJDUMP:[A-Z]*=//p' build/windows/CMakeCache.txt)
  nm=$(sed -n 's/^CMAKE_NM:[A-Z]*=//p' build/windows/CMakeCache.txt)
  cmake -DDLL=build/windows/bin/vek.dll -DOBJDUMP="$objdump" \
    -DEXPECTED=tests/vek/expected_exports_win32.txt -P tests/vek/check_dll_exports.cmake
  # The guard must reject x87 code: run it on an object built for the x87.
  local fixture
  fixture=$(find build/windows -name 'x87_fixture.c.obj' | head -n 1)
  if cmake -DOBJECTS="$fixture" -DOBJDUMP="$objdump" -DNM="$nm" -P cmake/X87Guard.cmake \
    >build/windows/x87-fixture.log 2>&1; then
    echo "x87 guard: accepted x87 code in $fixture" >&2
    return 1
  fi
  grep -q 'X87Quotient: fdiv' build/windows/x87-fixture.log
  grep -q 'calls _sin' build/windows/x87-fixture.log
  echo "windows build checks: 2 passed, 0 failed"
}

# The Windows suite under Wine: the 32-bit build where Wine can run it, else
# a 64-bit build of the same sources.
windows_suite_stage() {
  local arch preset
  arch=$(wine_arch)
  preset=windows
  if [[ $arch == win64 ]]; then
    preset=windows64
    echo "this machine cannot run 32-bit programs: the suite runs on the 64-bit build"
  fi
  export VEK_WINE_ARCH=$arch
  bash scripts/wine-test.sh --arch "$arch" start
  trap "bash scripts/wine-test.sh --arch $arch stop || true" EXIT
  cmake --preset "$preset" -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=POST_BUILD >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset"
}

differential_stage() {
  local arch preset=windows
  arch=$(wine_arch)
  [[ $arch == win64 ]] && preset=windows64
  VEK_WINE_ARCH=$arch bash scripts/differential.sh build/debug/bin "build/$preset/bin"
}

# ThreadSanitizer over the threaded tests: a font measured on one thread
# while another rasterises its glyphs, and the rasteriser's worker pool
# drawing with 1, 2 and 4 bands.
tsan_stage() {
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan -j"$jobs" --target vek_font_tests vekrt_tests
  TSAN_OPTIONS=halt_on_error=1 build/tsan/bin/vek_font_tests \
    --gtest_filter='FontTest.MeasuringOnAnotherThreadWhileGlyphsAreRasterised'
  TSAN_OPTIONS=halt_on_error=1 build/tsan/bin/vekrt_tests \
    --gtest_filter='FastPathTest.EveryThreadCountGivesTheSamePixels'
}

# Builds as a user would (plain CMake, Release, no presets), installs into a
# temporary prefix and builds the example host from it with find_package and
# with pkg-config; then the same for Windows from the unpacked SDK archive,
# run under Wine where 32-bit programs run.
packaging_stage() {
  local work
  work=$(mktemp -d)
  trap "rm -rf '$work'" EXIT
  cmake -S . -B build/plain -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=OFF -DVEK_WERROR=ON >/dev/null
  cmake --build build/plain -j"$jobs"
  cmake --install build/plain --prefix "$work/prefix" >/dev/null
  local pc=$work/prefix/lib/pkgconfig
  cmake -S examples/hello -B "$work/hello-cmake" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
  cmake --build "$work/hello-cmake"
  g++ -std=c++17 examples/hello/main.cpp $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs vek) \
    -Wl,-rpath,"$work/prefix/lib" -o "$work/hello-pkgconfig"
  (cd "$work/hello-cmake" && ./vek_hello) | tee "$work/cmake.out"
  grep -qx 'vek_hello: ok' "$work/cmake.out"
  (cd "$work" && ./hello-pkgconfig) | tee "$work/pkgconfig.out"
  grep -qx 'vek_hello: ok' "$work/pkgconfig.out"
  # The C host through find_package; the README's two programs through
  # pkg-config alone (its flags carry the run path: no LD_LIBRARY_PATH).
  cmake -S examples/hello_c -B "$work/hello-c" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
  cmake --build "$work/hello-c"
  (cd "$work/hello-c" && ./vek_hello_c) | tee "$work/c.out"
  grep -qx 'vek_hello_c: ok' "$work/c.out"
  mkdir -p "$work/readme"
  gcc -std=c99 -Wall -Werror examples/readme/hello.c \
    $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs vek) -o "$work/readme/hello-c"
  g++ -std=c++17 -Wall -Werror examples/readme/hello.cpp \
    $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs vek) -o "$work/readme/hello-cpp"
  (cd "$work/readme" && ./hello-c && ./hello-cpp && test -s frame.bmp && test -s frame.png)
  echo "posix install: 5 passed, 0 failed"

  cmake -S . -B build/plain-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=OFF -DVEK_WERROR=ON >/dev/null
  cmake --build build/plain-windows -j"$jobs"
  bash scripts/windows-sdk.sh build/plain-windows build/dist
  local version
  version=$(sed -n 's/^#define VEK_VERSION_STRING "\(.*\)"/\1/p' build/plain-windows/include/vek/version.h)
  (cd "$work" && cmake -E tar xf "$OLDPWD/build/dist/vek-$version-win32.zip")
  local sdk=$work/vek-$version-win32
  mkdir -p "$work/win"
  # -static takes the compiler runtime from its archives; the import
  # libraries are named whole so that it does not look for static ones.
  i686-w64-mingw32-g++-posix -std=c++17 -O2 examples/hello/main.cpp -I"$sdk/include" \
    "$sdk"/lib/lib{vek,rask,pelto}.dll.a -luser32 -static -o "$work/win/vek_hello.exe"
  cmake -S examples/hello -B "$work/hello-windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" -Dvek_DIR="$sdk/lib/cmake/vek" >/dev/null
  cmake --build "$work/hello-windows"
  i686-w64-mingw32-gcc-posix -std=c99 -O2 examples/hello_c/main.c -I"$sdk/include" \
    "$sdk"/lib/lib{vek,rask,pelto}.dll.a -luser32 -static -o "$work/win/vek_hello_c.exe"
  cp "$sdk"/bin/*.dll "$work/win/"
  if [[ $(wine_arch) == win32 ]]; then
    bash scripts/wine-test.sh -- "$work/win/vek_hello.exe" | tee "$work/windows.out"
    grep -q '^vek_hello: ok' "$work/windows.out"
    bash scripts/wine-test.sh -- "$work/win/vek_hello_c.exe" | tee "$work/windows-c.out"
    grep -q '^vek_hello_c: ok' "$work/windows-c.out"
    echo "windows sdk: 2 passed, 0 failed"
  else
    echo "windows sdk: built the example from the archive; 32-bit programs cannot run here"
  fi
}

run_stage() {
  case $1 in
    posix-debug) posix_stage debug ;;
    posix-asan) posix_stage asan ;;
    posix-nosdl) nosdl_stage ;;
    tsan) tsan_stage ;;
    fuzz) bash scripts/fuzz.sh ;;  # every fuzz target under ASan + UBSan
    windows-build) windows_build_stage ;;
    windows-suite) windows_suite_stage ;;
    differential) differential_stage ;;
    packaging) packaging_stage ;;
    *)
      echo "test.sh: unknown stage $1" >&2
      return 2
      ;;
  esac
}

if [[ ${1:-} == --stage ]]; then
  run_stage "$2"
  exit $?
fi

bash scripts/install-deps.sh
bash scripts/install-windows-deps.sh
echo "== machine: $(wine_arch) Wine ($( [[ $(wine_arch) == win32 ]] && echo '32-bit programs run' || echo '32-bit programs cannot start'))"

stages=(posix-debug posix-asan posix-nosdl tsan fuzz windows-build windows-suite differential packaging)
failed=()
for stage in "${stages[@]}"; do
  echo "== stage $stage"
  # A separate shell per stage, so that `set -e` holds inside it.
  if bash "$0" --stage "$stage"; then
    echo "== stage $stage: passed"
  else
    echo "== stage $stage: FAILED"
    failed+=("$stage")
  fi
done

[[ ${#failed[@]} == 0 ]] || echo "== failed stages: ${failed[*]}"
echo "stages: $((${#stages[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
[[ ${#failed[@]} == 0 ]]
