// Port names as typed into the port box, given to --port or KV58_PORT: every parser takes
// any text, and a network name that parses is written back as one that parses the same.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "serial/network_port.h"
#include "tools/kv58/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(bytes), size);
  (void)kv58::cli::PortName(name);
  if (const auto port = kv58::ParseNetworkPort(name)) {
    const auto again = kv58::ParseNetworkPort(kv58::NetworkPortName(*port));
    if (!again || again->mode != port->mode || again->host != port->host || again->port != port->port) {
      std::abort();
    }
  }
  return 0;
}
