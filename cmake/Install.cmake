# cmake --install: what a host needs to build against vek and run it.
#
#   include/vek/vek.h, include/vek/version.h   the interface and its version
#   include/vek/vek.hpp                         the C++ layer over it
#   include/pelto.h, include/rask.h            the host libraries vek calls
#   include/vek/posix/                         POSIX only: the runtime's Win32 and
#                                              Direct3D 8 names and vekrt/runtime.h
#   lib/ (and bin/ on Windows)                 vek, pelto, rask (and vekrt on POSIX)
#   lib/cmake/vek/                             find_package(vek CONFIG): vek::vek
#   lib/pkgconfig/vek.pc                       pkg-config --cflags --libs vek
#
# Test-only modules (the stb FreeImage stand-ins) are never installed.

include(CMakePackageConfigHelpers)

set(_vek_targets vek pelto rask)
if(NOT WIN32)
  list(APPEND _vek_targets vekrt win32_headers)
endif()
install(TARGETS ${_vek_targets} EXPORT vekTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

install(FILES include/vek/vek.h include/vek/vek.hpp ${PROJECT_BINARY_DIR}/include/vek/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vek)
install(FILES hostlibs/pelto/include/pelto.h hostlibs/rask/include/rask.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(NOT WIN32)
  install(DIRECTORY platform/posix/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vek/posix)
endif()

set(_vek_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/vek)
install(EXPORT vekTargets NAMESPACE vek:: DESTINATION ${_vek_cmake_dir})
configure_package_config_file(cmake/vekConfig.cmake.in ${PROJECT_BINARY_DIR}/vekConfig.cmake
  INSTALL_DESTINATION ${_vek_cmake_dir})
# 0.x releases promise nothing across minor versions.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vekConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vekConfig.cmake ${PROJECT_BINARY_DIR}/vekConfigVersion.cmake
  DESTINATION ${_vek_cmake_dir})

if(WIN32)
  set(VEK_PC_CFLAGS "-I\${includedir}")
  set(VEK_PC_LIBS "-L\${libdir} -lvek -lpelto -lrask")
  set(VEK_PC_LIBS_PRIVATE "-ld3d8 -lgdi32 -luser32 -lkernel32")
else()
  set(VEK_PC_CFLAGS "-I\${includedir} -I\${includedir}/vek/posix")
  # The run path too: a program linked through pkg-config against an install
  # outside the system folders starts without LD_LIBRARY_PATH.
  set(VEK_PC_LIBS "-L\${libdir} -Wl,-rpath,\${libdir} -lvek -lpelto -lrask -lvekrt")
  set(VEK_PC_LIBS_PRIVATE "")
endif()
# Relocatable: the prefix is found from where the file lies, so an install
# with `cmake --install --prefix` or an unpacked archive works as it is.
file(RELATIVE_PATH VEK_PC_PREFIX_FROM_PCDIR /x/${CMAKE_INSTALL_LIBDIR}/pkgconfig /x)
string(REGEX REPLACE "/$" "" VEK_PC_PREFIX_FROM_PCDIR "${VEK_PC_PREFIX_FROM_PCDIR}")
configure_file(cmake/vek.pc.in ${PROJECT_BINARY_DIR}/vek.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vek.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
