# GoogleTest for native and cross builds, with the same tests/CMakeLists.txt.
#
#   include(NelkoGTest)        # after enable_testing()
#   target_link_libraries(t PRIVATE GTest::gtest_main GTest::gmock)
#   nelko_gtest_discover_tests(t WORKING_DIRECTORY ${NELKO_OUTPUT_DIR})
#
# Native: find_package(GTest) (Debian: libgtest-dev, libgmock-dev).
# Cross (mingw-w64): GoogleTest is built from its sources (Debian: googletest, in
# /usr/src/googletest) inside the build tree, with the same target names: GTest::gtest,
# GTest::gtest_main, GTest::gmock, GTest::gmock_main. Their headers are SYSTEM includes,
# so the warning flags of our tests do not apply to them.
#
# nelko_gtest_discover_tests() forwards to gtest_discover_tests(). When cross compiling it
# discovers at test time (DISCOVERY_MODE PRE_TEST: ctest runs "wine-run.sh t.exe
# --gtest_list_tests" when it starts) with a DISCOVERY_TIMEOUT long enough for the first
# run, which creates the Wine prefix. It also adds the CTest fixture that stops the
# persistent wineserver after the tests (see nelko_wine_fixture()).
include_guard(GLOBAL)
include(GoogleTest)

if(CMAKE_CROSSCOMPILING)
  set(NELKO_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources for cross builds")
  if(NOT EXISTS "${NELKO_GTEST_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "No GoogleTest sources in ${NELKO_GTEST_SOURCE_DIR} (Debian: apt-get install googletest)")
  endif()
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)   # MSVC only; harmless elsewhere
  set(gtest_build_tests OFF CACHE BOOL "" FORCE)
  set(gtest_build_samples OFF CACHE BOOL "" FORCE)
  set(gmock_build_tests OFF CACHE BOOL "" FORCE)
  # GoogleTest builds static libraries regardless of our settings.
  set(_nelko_saved_shared ${BUILD_SHARED_LIBS})
  set(BUILD_SHARED_LIBS OFF)
  add_subdirectory("${NELKO_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL)
  set(BUILD_SHARED_LIBS ${_nelko_saved_shared})
  unset(_nelko_saved_shared)
  foreach(_nelko_t IN ITEMS gtest gtest_main gmock gmock_main)
    get_target_property(_nelko_dirs ${_nelko_t} INTERFACE_INCLUDE_DIRECTORIES)
    if(_nelko_dirs)
      set_property(TARGET ${_nelko_t} APPEND PROPERTY INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${_nelko_dirs})
    endif()
  endforeach()
  unset(_nelko_t)
  unset(_nelko_dirs)
else()
  find_package(GTest REQUIRED)
  if(NOT TARGET GTest::gmock)
    message(FATAL_ERROR "GoogleTest was found without GMock (Debian: apt-get install libgmock-dev)")
  endif()
endif()

option(NELKO_WINE_TESTS
  "Cross builds: run the test programs under Wine (off where this machine cannot run them, such as 32-bit programs on a kernel without IA-32 emulation; the checks that only read the built files still run)"
  ON)

option(NELKO_WINE_STOP_AFTER_TESTS
  "Stop the persistent wineserver when ctest ends (turn off when suites sharing one Wine prefix run at the same time; then call scripts/wine-stop.sh at the end)"
  ON)

# Adds (once) the tests that set the Wine prefix up before, and stop the persistent
# wineserver after, every test that requires the fixture "nelko_wine". Give other tests
# that run Windows programs the property FIXTURES_REQUIRED nelko_wine as well.
function(nelko_wine_fixture)
  get_property(added GLOBAL PROPERTY NELKO_WINE_FIXTURE_ADDED)
  if(NOT CMAKE_CROSSCOMPILING OR NOT CMAKE_CROSSCOMPILING_EMULATOR OR added)
    return()
  endif()
  set_property(GLOBAL PROPERTY NELKO_WINE_FIXTURE_ADDED TRUE)
  list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 _runner)
  add_test(NAME nelko_wine_start COMMAND "${_runner}" --init)
  set_tests_properties(nelko_wine_start PROPERTIES FIXTURES_SETUP nelko_wine TIMEOUT 900)
  if(NELKO_WINE_STOP_AFTER_TESTS)
    add_test(NAME nelko_wine_stop COMMAND "${_runner}" --stop)
    set_tests_properties(nelko_wine_stop PROPERTIES FIXTURES_CLEANUP nelko_wine TIMEOUT 120)
  endif()
endfunction()

# gtest_discover_tests() with the cross-build settings; the arguments are those of
# gtest_discover_tests() (later ones win over the defaults set here).
function(nelko_gtest_discover_tests target)
  if(CMAKE_CROSSCOMPILING AND NOT NELKO_WINE_TESTS)
    return()
  elseif(CMAKE_CROSSCOMPILING)
    nelko_wine_fixture()
    gtest_discover_tests(${target}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 300
      PROPERTIES FIXTURES_REQUIRED nelko_wine
      ${ARGN})
  else()
    gtest_discover_tests(${target} ${ARGN})
  endif()
endfunction()
