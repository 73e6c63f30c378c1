# Cross toolchain for 64-bit Windows with Debian's mingw-w64 (x86-64). Not
# the product (hosts load the 32-bit vek.dll): it exists so that the Windows
# suite and the differential scenes can run under 64-bit Wine on machines
# whose kernel cannot start 32-bit programs. The same sources, the same Wine
# Direct3D 8, GDI and kernel; what only 32-bit builds have (decorated export
# names, x87 arithmetic) is checked by the 32-bit build alone.
#
# Packages: scripts/install-windows-deps.sh.

set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VEK_MINGW_TRIPLE x86_64-w64-mingw32)
set(VEK_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
