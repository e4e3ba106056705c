// One display whatever the spelling of its name: the case of the host, the scheme, and names
// that resolve to one address and port. Only addresses and "localhost" are looked up: no
// resolver is asked.

#include "serial/display_endpoint.h"

#include <gtest/gtest.h>

#include "serial/port_name.h"

namespace kv58 {
namespace {

using namespace std::chrono_literals;

NetworkPort Port(const char* name) {
  const auto parsed = ParsePortName(name, PortNameRule::Strict);
  EXPECT_TRUE(parsed && parsed->IsNetwork()) << name;
  return parsed && parsed->IsNetwork() ? parsed->Network() : NetworkPort{};
}

struct KeyCase {
  const char* a;
  const char* b;
  bool same;
};

TEST(DisplayEndpointTest, NamesOfOneDisplayGiveOneKeyWhateverTheirCaseOrScheme) {
  const KeyCase cases[] = {
      {"tcp://LOCALHOST:4001", "tcp://localhost:4001", true},
      {"rfc2217://Device-Server.Example:4001", "tcp://device-server.example:4001", true},
      {"tcp://[FE80::1]:7001", "tcp://[fe80::1]:7001", true},
      {"tcp://localhost:4001", "tcp://localhost:4002", false},
      {"tcp://server-a:4001", "tcp://server-b:4001", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(EndpointKey(Port(c.a)) == EndpointKey(Port(c.b)), c.same);
  }
  EXPECT_EQ(EndpointKey(Port("tcp://LocalHost:4001")), "localhost:4001");
  EXPECT_EQ(EndpointKey(Port("tcp://[FE80::1]:7001")), "[fe80::1]:7001");
  EXPECT_EQ(CanonicalHostKey("Ünïcode-HOST"), "Ünïcode-host") << "only ASCII letters change";
}

TEST(DisplayEndpointTest, NamesThatResolveToOneAddressAndPortAreOneDisplay) {
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  const auto address = ResolvedEndpoints(Port("tcp://127.0.0.1:4001"), deadline);
  ASSERT_TRUE(address.has_value());
  EXPECT_EQ(*address, std::vector<std::string>{"127.0.0.1:4001"});
  const auto ipv6 = ResolvedEndpoints(Port("tcp://[::1]:4001"), deadline);
  ASSERT_TRUE(ipv6.has_value());
  EXPECT_EQ(*ipv6, std::vector<std::string>{"[::1]:4001"});

  const auto name = ResolvedEndpoints(Port("rfc2217://LOCALHOST:4001"), deadline);
  ASSERT_TRUE(name.has_value()) << "localhost comes from the hosts file";
  EXPECT_TRUE(ShareAnEndpoint(*name, *address) || ShareAnEndpoint(*name, *ipv6));
  const auto otherPort = ResolvedEndpoints(Port("tcp://127.0.0.1:4002"), deadline);
  ASSERT_TRUE(otherPort.has_value());
  EXPECT_FALSE(ShareAnEndpoint(*otherPort, *address));
}

} // namespace
} // namespace kv58
