# nlohmann/json (Debian's nlohmann-json3-dev, header-only): the tools write and read JSON with
# it. Targets link kv58_json.
#
# A cross build for Windows must not search the host's /usr/include: glibc's headers there
# would stand in for mingw-w64's. So there the package is found by the path of its CMake
# config on the host, and only its nlohmann/ folder is copied under the build tree, which
# becomes the include path.
add_library(kv58_json INTERFACE)
if(NOT CMAKE_CROSSCOMPILING)
  find_package(nlohmann_json 3.10 CONFIG REQUIRED)
  target_link_libraries(kv58_json INTERFACE nlohmann_json::nlohmann_json)
  return()
endif()

set(KV58_HOST_NLOHMANN_JSON_DIR "/usr/share/cmake/nlohmann_json"
  CACHE PATH "Folder of the host's nlohmann_jsonConfig.cmake, for cross builds")
find_package(nlohmann_json 3.10 CONFIG REQUIRED
  PATHS "${KV58_HOST_NLOHMANN_JSON_DIR}" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
get_target_property(kv58_nlohmann_json_includes nlohmann_json::nlohmann_json INTERFACE_INCLUDE_DIRECTORIES)
find_path(KV58_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp
  PATHS ${kv58_nlohmann_json_includes} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT KV58_NLOHMANN_JSON_INCLUDE)
  message(FATAL_ERROR "nlohmann_json ${nlohmann_json_VERSION} has no nlohmann/json.hpp in ${kv58_nlohmann_json_includes}")
endif()

set(kv58_nlohmann_json_staged "${PROJECT_BINARY_DIR}/nlohmann_json/include")
file(REMOVE_RECURSE "${kv58_nlohmann_json_staged}")
file(COPY "${KV58_NLOHMANN_JSON_INCLUDE}/nlohmann" DESTINATION "${kv58_nlohmann_json_staged}")
target_include_directories(kv58_json SYSTEM INTERFACE "${kv58_nlohmann_json_staged}")
target_compile_features(kv58_json INTERFACE cxx_std_11)
message(STATUS "nlohmann_json ${nlohmann_json_VERSION}: headers from ${KV58_NLOHMANN_JSON_INCLUDE}/nlohmann, copied to ${kv58_nlohmann_json_staged}")
