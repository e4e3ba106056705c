# Test registration: every discovered case gets the same environment, set here as a test
# property (so `ctest -VV` shows it). How long a case may take is set once, in the test presets
# of CMakePresets.json.

# The sanitizers abort on any finding, so a test with a finding fails; the suppression file
# covers the toolkit's own leaks only. The window tests run on the offscreen platform.
set(KV58_TEST_ENVIRONMENT
  "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
  "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0"
  "QT_QPA_PLATFORM=offscreen")

# kv58_add_test(<target> [OWN_MAIN] SOURCES ... LIBRARIES ...): one GoogleTest executable, its
# cases registered with CTest. OWN_MAIN: the sources bring main() (window tests need an application).
function(kv58_add_test target)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gmock kv58_warnings)
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(${target} PRIVATE GTest::gtest_main)
  endif()
  # Tests without Qt carry their own C and C++ runtime, so Wine runs them with no DLL path;
  # tests of the window share the runtime DLLs with Qt's.
  if(WIN32 AND NOT ARG_LIBRARIES MATCHES "Qt6::")
    target_link_options(${target} PRIVATE -static)
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    NO_PRETTY_VALUES) # names, not byte dumps of the parameter rows

  # gtest_discover_tests would flatten a list given as a property value, so the environment
  # is set by a script CTest reads after the cases are discovered (they are in ${target}_TESTS).
  set(environment_script "${CMAKE_CURRENT_BINARY_DIR}/${target}_environment.cmake")
  file(WRITE "${environment_script}"
    "set_tests_properties(\${${target}_TESTS} PROPERTIES ENVIRONMENT \"${KV58_TEST_ENVIRONMENT}\")\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${environment_script}")
endfunction()
