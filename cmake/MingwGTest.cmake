# GoogleTest for the Windows cross build, compiled from Debian's sources
# (package googletest, /usr/src/googletest) with the cross compiler, since no
# prebuilt mingw GoogleTest exists. Provides GTest::gtest, GTest::gtest_main,
# GTest::gmock and GTest::gmock_main, and makes a later
# find_package(GTest REQUIRED) succeed on them, so test CMake code stays the
# same on both builds. No-op outside WIN32 or when GTest::gtest exists.
#
#   if(WIN32)
#     include(MingwGTest)
#   endif()

if(NOT WIN32 OR TARGET GTest::gtest)
  return()
endif()

set(VEK_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
if(NOT EXISTS "${VEK_GTEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found in ${VEK_GTEST_SOURCE_DIR}; "
                      "run scripts/install-windows-deps.sh")
endif()

# On MinGW GoogleTest uses Windows threads whatever this says; the option is
# set so it never looks for pthreads.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_build_tests OFF CACHE BOOL "" FORCE)
set(gmock_build_tests OFF CACHE BOOL "" FORCE)

# Static libraries, whatever the project builds otherwise.
set(_vek_saved_shared ${BUILD_SHARED_LIBS})
set(BUILD_SHARED_LIBS OFF)
add_subdirectory("${VEK_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL)
set(BUILD_SHARED_LIBS ${_vek_saved_shared})
unset(_vek_saved_shared)

foreach(_vek_t gtest gtest_main gmock gmock_main)
  # The project's -Werror is for the project's code.
  target_compile_options(${_vek_t} PRIVATE -Wno-error)
endforeach()
unset(_vek_t)

# FindGTest looks for a package configuration first: give it one that only
# states the targets above exist.
set(_vek_gtest_config_dir "${CMAKE_BINARY_DIR}/_deps/gtest-config")
file(WRITE "${_vek_gtest_config_dir}/GTestConfig.cmake"
     "# Targets come from MingwGTest.cmake (built from source).\nset(GTest_FOUND TRUE)\n")
file(WRITE "${_vek_gtest_config_dir}/GTestConfigVersion.cmake"
     "set(PACKAGE_VERSION 1.12.1)\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
set(GTest_DIR "${_vek_gtest_config_dir}" CACHE PATH "" FORCE)
unset(_vek_gtest_config_dir)
