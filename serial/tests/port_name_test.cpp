// Port names: what each rule takes, as which port, written how, and what it refuses.

#include "serial/port_name.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace kv58 {
namespace {

using Mode = NetworkPort::Mode;
using Rule = PortNameRule;

struct NameCase {
  const char* name;
  const char* portBox; // the canonical spelling under the port box's rule; "" when refused
  const char* strict;  // the same under the strict rule
};

TEST(PortNameTest, EachRuleTakesItsSpellingsAndWritesThemOneWay) {
  const NameCase cases[] = {
      {"COM5", "COM5", "COM5"},
      {"COM05", "COM5", "COM5"},
      {"com05", "", "COM5"},
      {"Com12", "", "COM12"},
      {"COM 5", "COM5", ""},
      {"COM$5", "COM5", ""},
      {"COM0x5", "COM5", ""},
      {"COM-2", "COM-2", ""},
      {"COM0", "", ""},
      {"COM", "", ""},
      {"COMX", "", ""},
      {"COM5 ", "", ""},
      {"COM99999999999", "", ""},
      {"LPT1", "", ""},
      {"", "", ""},
      {"rfc2217://192.168.1.20:4001", "rfc2217://192.168.1.20:4001", "rfc2217://192.168.1.20:4001"},
      {"tcp://display-hall.local:7001", "tcp://display-hall.local:7001", "tcp://display-hall.local:7001"},
      {"socket://10.0.0.5:23", "tcp://10.0.0.5:23", "tcp://10.0.0.5:23"},
      {"RFC2217://[::1]:65535", "rfc2217://[::1]:65535", "rfc2217://[::1]:65535"},
      {"tcp://[fe80::1:2]:1", "tcp://[fe80::1:2]:1", "tcp://[fe80::1:2]:1"},
      {"tcp://host", "", ""},
      {"tcp://:7001", "", ""},
      {"tcp://host:0", "", ""},
      {"tcp://host:65536", "", ""},
      {"tcp://host:+80", "", ""},
      {"tcp://host:80/path", "", ""},
      {"tcp://user@host:80", "", ""},
      {"tcp://::1:80", "", ""},
      {"tcp://[host]:80", "", ""},
      {"tcp://[::1]80", "", ""},
      {"telnet://host:23", "", ""},
      {"http://host:80", "", ""},
  };
  for (const auto& c : cases) {
    for (const auto& [rule, expected] :
         {std::pair(Rule::PortBox, c.portBox), std::pair(Rule::Strict, c.strict)}) {
      SCOPED_TRACE(std::string(c.name) + (rule == Rule::PortBox ? " in the port box" : " strictly"));
      const auto name = ParsePortName(c.name, rule);
      ASSERT_EQ(name.has_value(), *expected != '\0');
      if (name) {
        EXPECT_EQ(name->Canonical(), expected);
        const auto again = ParsePortName(name->Canonical(), rule);
        ASSERT_TRUE(again.has_value()) << "the canonical spelling reads back";
        EXPECT_EQ(*again, *name);
      }
    }
  }
}

TEST(PortNameTest, ANetworkNameKeepsItsModeHostAndPort) {
  const auto name = ParsePortName("RFC2217://[fe80::1:2]:4001", Rule::Strict);
  ASSERT_TRUE(name && name->IsNetwork());
  EXPECT_EQ(name->Network().mode, Mode::Rfc2217);
  EXPECT_EQ(name->Network().host, "fe80::1:2");
  EXPECT_EQ(name->Network().port, 4001);
  EXPECT_EQ(name->ComNumber(), 0);
  EXPECT_EQ(ParsePortName("socket://h:1", Rule::Strict)->Network().mode, Mode::Raw);
  EXPECT_EQ(ParsePortName("com7", Rule::Strict)->ComNumber(), 7);
}

} // namespace
} // namespace kv58
