// Network port names: what is taken, as which parts, and what is refused.

#include "serial/network_port.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace kv58 {
namespace {

using Mode = NetworkPort::Mode;

struct NameCase {
  const char* name;
  std::optional<Mode> mode; // none: refused
  const char* host;
  std::uint16_t port;
  const char* written;
};

TEST(NetworkPortTest, NamesAreSplitOrRefused) {
  const NameCase cases[] = {
      {"rfc2217://192.168.1.20:4001", Mode::Rfc2217, "192.168.1.20", 4001, "rfc2217://192.168.1.20:4001"},
      {"tcp://display-hall.local:7001", Mode::Raw, "display-hall.local", 7001,
       "tcp://display-hall.local:7001"},
      {"socket://10.0.0.5:23", Mode::Raw, "10.0.0.5", 23, "tcp://10.0.0.5:23"},
      {"RFC2217://[::1]:65535", Mode::Rfc2217, "::1", 65535, "rfc2217://[::1]:65535"},
      {"tcp://[fe80::1:2]:1", Mode::Raw, "fe80::1:2", 1, "tcp://[fe80::1:2]:1"},
      {"COM5", std::nullopt, "", 0, ""},
      {"tcp://host", std::nullopt, "", 0, ""},
      {"tcp://:7001", std::nullopt, "", 0, ""},
      {"tcp://host:0", std::nullopt, "", 0, ""},
      {"tcp://host:65536", std::nullopt, "", 0, ""},
      {"tcp://host:+80", std::nullopt, "", 0, ""},
      {"tcp://host:80/path", std::nullopt, "", 0, ""},
      {"tcp://user@host:80", std::nullopt, "", 0, ""},
      {"tcp://::1:80", std::nullopt, "", 0, ""},
      {"tcp://[host]:80", std::nullopt, "", 0, ""},
      {"tcp://[::1]80", std::nullopt, "", 0, ""},
      {"telnet://host:23", std::nullopt, "", 0, ""},
      {"http://host:80", std::nullopt, "", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto port = ParseNetworkPort(c.name);
    ASSERT_EQ(port.has_value(), c.mode.has_value());
    if (port) {
      EXPECT_EQ(port->mode, *c.mode);
      EXPECT_EQ(port->host, c.host);
      EXPECT_EQ(port->port, c.port);
      EXPECT_EQ(NetworkPortName(*port), c.written);
    }
  }
}

} // namespace
} // namespace kv58
