# GoogleTest from Debian's sources (package googletest), built with this
# build's compiler so that it also runs under Wine.
set(VANTRELL_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(EXISTS ${VANTRELL_GTEST_SOURCE_DIR}/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${VANTRELL_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  include(FetchContent)
  FetchContent_Declare(googletest URL https://github.com/google/googletest/archive/refs/tags/v1.12.1.tar.gz)
  FetchContent_MakeAvailable(googletest)
endif()
include(GoogleTest)

# One test executable per module; each test case becomes one CTest test.
# USES_MACHINE: the tests read or change the simulated machine, whose state
# is shared by every process in the Wine prefix. SERIAL: the tests click,
# type or read the screen. On Windows the first never run beside each other
# and the second beside nothing. Under Wine every test takes a slot instead,
# a prefix and a display of its own (see cmake/wine-launcher.sh.in), so
# that two tests of any kind run at once. ONE_PROGRAM_UNDER_WINE: under
# Wine the whole program is one test, in one process, as its cases touch
# neither the machine nor the screen and a process of their own each would
# cost more than the cases; natively each case is a test. PROPERTIES: more
# test properties.
function(vantrell_add_test name)
  cmake_parse_arguments(ARG "USES_MACHINE;SERIAL;ONE_PROGRAM_UNDER_WINE" "" "SOURCES;LIBRARIES;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest_main)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    # A test program's own code is built for the speed of building it;
    # the product's code it links keeps the product's optimisation.
    target_compile_options(${name} PRIVATE -O0)
  endif()
  if(WIN32)
    # The test framework's header is the heaviest of all: the first test
    # program precompiles it with the Windows headers, the others reuse it.
    target_compile_options(${name} PRIVATE ${VANTRELL_PRECOMPILED_WARNINGS})
    get_property(precompiled GLOBAL PROPERTY VANTRELL_TEST_PRECOMPILED)
    if(precompiled)
      target_precompile_headers(${name} REUSE_FROM ${precompiled})
    else()
      target_precompile_headers(${name} PRIVATE <gtest/gtest.h> ${VANTRELL_PRECOMPILED_HEADERS})
      set_property(GLOBAL PROPERTY VANTRELL_TEST_PRECOMPILED ${name})
    endif()
  endif()
  set(properties TIMEOUT 120)
  if(CMAKE_CROSSCOMPILING AND ARG_ONE_PROGRAM_UNDER_WINE)
    add_dependencies(${name} wineprefix)
    add_test(NAME ${name} COMMAND ${name} --gtest_filter=*)
    set_tests_properties(${name} PROPERTIES ${properties} ${ARG_PROPERTIES})
    return()
  endif()
  if(CMAKE_CROSSCOMPILING)
    # A test runs in the build's Wine prefixes beside the program that holds
    # their desktop open (see the launcher); without it the first test that
    # opens a window starts the desktop itself, which then keeps that test's
    # output open long after it ended. Building a test builds both.
    add_dependencies(${name} wineprefix sandbox-tool)
    list(APPEND properties ENVIRONMENT VANTRELL_SLOT_TEST=1)
  else()
    if(ARG_USES_MACHINE)
      list(APPEND properties RESOURCE_LOCK simulated_machine)
    endif()
    if(ARG_SERIAL)
      list(APPEND properties RUN_SERIAL TRUE)
    endif()
  endif()
  # A case named by its parameter keeps that name alone: CMake would append
  # the parameter's value after a space, and a name with a space never finds
  # its recorded length, so the longest of them would start last.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 NO_PRETTY_VALUES
                       PROPERTIES ${properties} ${ARG_PROPERTIES})
endfunction()
