# cpp-httplib, header-only, from Debian's source package (scripts/fetch-httplib puts it under
# build/cpp-httplib/): the HTTP server of `kv58 serve`. Targets link kv58_httplib. Its limits
# are set here, for both systems alike; the server's own code sets the rest (time-outs, body size).
set(KV58_HTTPLIB_DIR "${PROJECT_SOURCE_DIR}/build/cpp-httplib" CACHE PATH "Folder of cpp-httplib's httplib.h")
if(NOT EXISTS "${KV58_HTTPLIB_DIR}/httplib.h")
  execute_process(COMMAND bash "${PROJECT_SOURCE_DIR}/scripts/fetch-httplib" RESULT_VARIABLE kv58_fetched)
  if(NOT kv58_fetched EQUAL 0 OR NOT EXISTS "${KV58_HTTPLIB_DIR}/httplib.h")
    message(FATAL_ERROR "cpp-httplib's header is missing: run scripts/fetch-httplib")
  endif()
endif()
file(READ "${KV58_HTTPLIB_DIR}/VERSION.txt" kv58_httplib_version)
string(STRIP "${kv58_httplib_version}" kv58_httplib_version)
message(STATUS "cpp-httplib ${kv58_httplib_version}: ${KV58_HTTPLIB_DIR}/httplib.h")

find_package(Threads REQUIRED)
add_library(kv58_httplib INTERFACE)
target_include_directories(kv58_httplib SYSTEM INTERFACE "${KV58_HTTPLIB_DIR}")
target_compile_definitions(kv58_httplib INTERFACE
  CPPHTTPLIB_USE_POLL                       # poll(), not select(): no limit on descriptor numbers
  CPPHTTPLIB_HEADER_MAX_COUNT=64            # header lines of one request
  CPPHTTPLIB_REQUEST_URI_MAX_LENGTH=2048
  CPPHTTPLIB_HEADER_MAX_LENGTH=4096         # one header line
  CPPHTTPLIB_LISTEN_BACKLOG=128
  CPPHTTPLIB_KEEPALIVE_MAX_COUNT=100)
target_link_libraries(kv58_httplib INTERFACE Threads::Threads)
if(WIN32)
  target_link_libraries(kv58_httplib INTERFACE ws2_32)
endif()
