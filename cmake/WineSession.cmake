# A CTest fixture that keeps one Wine session (Xvfb display + persistent
# wineserver, see scripts/wine-test.sh) up while Windows tests run, so each
# test costs a fraction of a second instead of a Wine start-up.
#
#   include(WineSession)
#   vek_wine_session_fixture()              # once, before the tests
#   ... PROPERTIES ${VEK_WINE_TEST_PROPERTIES} on each test
#       (gtest_discover_tests(... PROPERTIES ... ${VEK_WINE_TEST_PROPERTIES}))
#
# Tests without the fixture still work: each run then makes its own session.
# No-op (VEK_WINE_TEST_PROPERTIES empty) unless cross-compiling for WIN32.

set(VEK_WINE_TEST_PROPERTIES "")
set(_VEK_WINE_TEST_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-test.sh")

function(vek_wine_session_fixture)
  if(NOT (WIN32 AND CMAKE_CROSSCOMPILING))
    return()
  endif()
  get_filename_component(script "${_VEK_WINE_TEST_SCRIPT}" ABSOLUTE)
  add_test(NAME wine_session_start COMMAND "${script}" --arch "${VEK_WINE_ARCH}" start)
  add_test(NAME wine_session_stop COMMAND "${script}" --arch "${VEK_WINE_ARCH}" stop)
  set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine_session TIMEOUT 300)
  set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine_session TIMEOUT 60)
  set(VEK_WINE_TEST_PROPERTIES FIXTURES_REQUIRED wine_session PARENT_SCOPE)
endfunction()
