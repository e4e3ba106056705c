# KV58_SANITIZE=ON builds everything with AddressSanitizer and UndefinedBehaviorSanitizer.
# Any finding aborts the process, so a test with a finding fails.
option(KV58_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(KV58_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Every test sees the sanitizer settings; the suppression file covers the toolkit's own leaks only.
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
    NO_PRETTY_VALUES # names, not byte dumps of the parameter rows
    PROPERTIES ENVIRONMENT "${KV58_TEST_ENVIRONMENT}" TIMEOUT 120)
endfunction()
