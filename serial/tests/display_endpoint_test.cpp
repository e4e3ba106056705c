// One display whatever the spelling of its name. kv58's usage tests cover the names a user
// gives (a host in another case, the other scheme, two names of one address); here an IPv6
// address's hex digits, which fold to one key as a host name's letters do.

#include "serial/display_endpoint.h"

#include <gtest/gtest.h>

namespace kv58 {
namespace {

TEST(DisplayEndpointTest, AnIpv6AddressInAnotherCaseIsOneDisplay) {
  using Mode = NetworkPort::Mode;
  EXPECT_EQ(EndpointKey({Mode::Rfc2217, "FE80::1", 7001}), "[fe80::1]:7001");
  EXPECT_EQ(EndpointKey({Mode::Raw, "fe80::1", 7001}), "[fe80::1]:7001");
}

TEST(DisplayEndpointTest, TheSameAddressInsideTlsAndInClearIsOneDisplay) {
  NetworkPort inside(NetworkPort::Mode::Rfc2217, "Hall.example", 7001);
  inside.tls = true;
  inside.tlsSettings.pinSha256 = std::string(64, 'a');
  EXPECT_EQ(EndpointKey(inside), EndpointKey({NetworkPort::Mode::Raw, "hall.example", 7001}));
}

} // namespace
} // namespace kv58
