# Warnings for our own code, as an INTERFACE target that each of our targets links.
# Third-party headers (Qt, GoogleTest) come in as system includes and stay quiet.
add_library(kv58_warnings INTERFACE)
target_compile_options(kv58_warnings INTERFACE
  -Wall
  -Wextra
  -Wpedantic
  -Werror
  -Wshadow               # a local hiding a member is how slider positions get mixed up
  -Wconversion           # byte counts and parameter bytes narrow often here; make it explicit
  -Wsign-conversion
  -Wold-style-cast       # casts should say which kind they are
  -Wnon-virtual-dtor     # seams are interfaces deleted through base pointers
  -Woverloaded-virtual
  -Wcast-align
  -Wnull-dereference
  -Wdouble-promotion
  -Wformat=2
  -Wimplicit-fallthrough
  -Wmissing-declarations # free functions belong in a header or an anonymous namespace
  # GCC 12 at -O2 and above reports "const char* + std::string" as an overlapping memcpy
  # (GCC bug 105651): a false alarm inside the standard library, not in our code.
  $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>
)
