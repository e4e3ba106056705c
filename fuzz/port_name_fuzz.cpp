// Port names as typed into the port box, given to --port, KV58_PORT or a ports file: the
// parser takes any text under either rule, and a name that parses is written back as one
// that parses to the same port.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "serial/port_name.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(bytes), size);
  for (const auto rule : {kv58::PortNameRule::PortBox, kv58::PortNameRule::Strict}) {
    if (const auto name = kv58::ParsePortName(text, rule)) {
      const auto again = kv58::ParsePortName(name->FullName(), rule);
      if (!again || !(*again == *name)) {
        std::abort();
      }
    }
  }
  return 0;
}
