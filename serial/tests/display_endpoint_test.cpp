// One display whatever the spelling of its name. kv58's usage tests cover the names a user
// gives (a host in another case, the other scheme, two names of one address); here the IPv6
// spellings. Only addresses and "localhost" are looked up: no resolver is asked.

#include "serial/display_endpoint.h"

#include <gtest/gtest.h>

namespace kv58 {
namespace {

TEST(DisplayEndpointTest, AnIpv6AddressInAnotherCaseOrByNameIsOneDisplay) {
  using Mode = NetworkPort::Mode;
  EXPECT_EQ(EndpointKey({Mode::Rfc2217, "FE80::1", 7001}), EndpointKey({Mode::Raw, "fe80::1", 7001}));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  const auto byName = ResolvedEndpoints({Mode::Raw, "LOCALHOST", 4001}, deadline);
  const auto v6 = ResolvedEndpoints({Mode::Raw, "::1", 4001}, deadline);
  const auto v4 = ResolvedEndpoints({Mode::Raw, "127.0.0.1", 4001}, deadline);
  ASSERT_TRUE(byName && v6 && v4);
  EXPECT_EQ(*v6, std::vector<std::string>{"[::1]:4001"});
  EXPECT_TRUE(ShareAnEndpoint(*byName, *v6) || ShareAnEndpoint(*byName, *v4));
}

} // namespace
} // namespace kv58
