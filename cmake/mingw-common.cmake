# The body shared by the mingw-w64 toolchain files: they set
# VEK_MINGW_TRIPLE, CMAKE_SYSTEM_PROCESSOR and VEK_WINE_ARCH, then include it.

set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VEK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VEK_MINGW_TRIPLE}-windres)
# ar, ranlib, dlltool, objcopy and objdump are found from the compiler's
# prefix by CMake itself.

# Look for headers and libraries only in the cross sysroot; programs
# (code generators, scripts) come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VEK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No compiler runtime DLLs beside the binaries: hosts load vek.dll alone.
# -static also takes winpthread (needed by the posix thread model) from its
# archive; Windows system libraries are import libraries either way.
set(_vek_static "-static-libgcc -static-libstdc++ -static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_vek_static}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_vek_static}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_vek_static}")
unset(_vek_static)

# try_run() and ctest (including gtest_discover_tests) run Windows programs
# through Wine on a virtual display.
get_filename_component(_vek_source_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_vek_source_root}/scripts/wine-test.sh;--arch;${VEK_WINE_ARCH};--")
unset(_vek_source_root)
