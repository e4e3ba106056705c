# CLI11, the option parser of the command-line tools: Debian's libcli11-dev, header-only.
# Native builds use its CMake package. A cross-build must not search /usr/include (the
# host's C library headers would shadow mingw's), so it gets a folder of its own that holds
# only a link to the CLI headers.
if(TARGET kv58_cli11)
  return()
endif()
add_library(kv58_cli11 INTERFACE)

if(NOT CMAKE_CROSSCOMPILING)
  find_package(CLI11 2.1 CONFIG REQUIRED)
  target_link_libraries(kv58_cli11 INTERFACE CLI11::CLI11)
  return()
endif()

find_path(KV58_CLI11_HEADERS CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT KV58_CLI11_HEADERS)
  message(FATAL_ERROR "CLI11 not found: install Debian's libcli11-dev")
endif()
set(kv58_cli11_include "${CMAKE_BINARY_DIR}/cli11-include")
file(MAKE_DIRECTORY "${kv58_cli11_include}")
file(CREATE_LINK "${KV58_CLI11_HEADERS}/CLI" "${kv58_cli11_include}/CLI" SYMBOLIC)
target_include_directories(kv58_cli11 SYSTEM INTERFACE "${kv58_cli11_include}")
