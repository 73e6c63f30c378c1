# Cross toolchain for 32-bit Windows with Debian's mingw-w64 (i686): the
# product build. The posix thread-model compilers are used so std::thread and
# std::mutex work; tests built with it run under Wine through
# scripts/wine-test.sh.
#
#   cmake -S . -B build/windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#
# Packages: scripts/install-windows-deps.sh.

set(CMAKE_SYSTEM_PROCESSOR x86)
set(VEK_MINGW_TRIPLE i686-w64-mingw32)
set(VEK_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
