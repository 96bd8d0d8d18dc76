# GoogleTest for the project's tests: Debian's package natively; for the cross build, compiled
# from the source that Debian's googletest package installs, statically linked.
include(GoogleTest)

if(CMAKE_CROSSCOMPILING)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    message(FATAL_ERROR "The Windows tests run under Wine, and its loader for this build is not "
                        "installed (scripts/test installs it).")
  endif()
  set(OMBRIX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source for the cross build")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  # Defines the GTest::gtest, GTest::gtest_main and GTest::gmock targets.
  add_subdirectory(${OMBRIX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()

# Adds a GoogleTest binary of the project's own code and registers its tests with CTest.
# Cross-built tests run under Wine (CMAKE_CROSSCOMPILING_EMULATOR), discovered when they run.
function(ombrix_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gmock GTest::gtest_main)
  ombrix_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
endfunction()
