# Warnings for our own code, as an INTERFACE target that each of our targets links.
# Third-party headers (Qt, GoogleTest) come in as system includes and stay quiet.
add_library(kv58_warnings INTERFACE)
target_compile_options(kv58_warnings INTERFACE
  -Wall                  # the common mistakes: unused values, uninitialised reads, bad printf
  -Wextra                # the less common ones: unused parameters, signed/unsigned compares
  -Wpedantic             # standard C++ only, so mingw and clang take the same code
  -Werror                # a warning in our code stops the build, on every platform
  -Wshadow               # a local hiding a member is how slider positions get mixed up
  -Wconversion           # byte counts and parameter bytes narrow often here; make it explicit
  -Wsign-conversion      # a negative count turned size is how buffers overrun
  -Wold-style-cast       # casts should say which kind they are
  -Wnon-virtual-dtor     # seams are interfaces deleted through base pointers
  -Woverloaded-virtual   # a driver method with a slipped signature hides the seam's
  -Wcast-align           # byte buffers are cast to records; misalignment faults on some CPUs
  -Wnull-dereference     # paths where the optimiser proves a null pointer is used
  -Wdouble-promotion     # float silently widened to double in formatting and maths
  -Wformat=2             # format strings that are not literals, or do not match their arguments
  -Wimplicit-fallthrough # a switch case running into the next must say so
  -Wmissing-declarations # free functions belong in a header or an anonymous namespace
  # GCC 12 at -O2 and above reports "const char* + std::string" as an overlapping memcpy
  # (GCC bug 105651): a false alarm inside the standard library, not in our code.
  $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>
)
