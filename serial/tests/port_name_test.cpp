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

const std::string kPin = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

struct TlsNameCase {
  std::string name;
  std::string fullName; // "" when refused
  TlsSettings settings;
};

TEST(PortNameTest, ATlsNameCarriesItsOptionsAndReportsItsAddressAlone) {
  const std::string colons =
      "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:"
      "CC:DD:EE:FF";
  const std::string pinned = "rfc2217+tls://box:7001?pin=SHA256:" + kPin;
  const TlsNameCase cases[] = {
      {"rfc2217+tls://box:7001", "rfc2217+tls://box:7001", {}},
      {"TCP+TLS://[::1]:7001", "tcp+tls://[::1]:7001", {}},
      {"socket+tls://box:1", "tcp+tls://box:1", {}},
      {"rfc2217+tls://box:7001?pin=SHA256:" + kPin, pinned, TlsSettings{.pinSha256 = kPin}},
      {"rfc2217+tls://box:7001?pin=sha256:" + colons, pinned, TlsSettings{.pinSha256 = kPin}},
      {"rfc2217+tls://box:7001?pin=" + colons, pinned, TlsSettings{.pinSha256 = kPin}},
      {"tcp+tls://box:1?key=/k.pem&cert=/c.pem&name=box-ser2net&ca=/etc/ca.pem",
       "tcp+tls://box:1?ca=/etc/ca.pem&name=box-ser2net&cert=/c.pem&key=/k.pem",
       TlsSettings{.caFile = "/etc/ca.pem",
                   .expectedName = "box-ser2net",
                   .certFile = "/c.pem",
                   .keyFile = "/k.pem"}},
      {"tcp+tls://box:1?ca=C:\\My%20Certs\\a%26b.pem", "tcp+tls://box:1?ca=C:\\My%20Certs\\a%26b.pem",
       TlsSettings{.caFile = "C:\\My Certs\\a&b.pem"}},
      {"tcp+tls://box:1?cert=/both.pem", "tcp+tls://box:1?cert=/both.pem",
       TlsSettings{.certFile = "/both.pem"}},
      // Refused: options on a clear name, unknown, repeated, empty or malformed ones.
      {"rfc2217://box:7001?pin=SHA256:" + kPin, "", {}},
      {"tcp+tls://box:1?ca=/a&", "", {}},
      {"tcp+tls://box:1?verify=no", "", {}},
      {"tcp+tls://box:1?ca=", "", {}},
      {"tcp+tls://box:1?ca=/a&ca=/b", "", {}},
      {"tcp+tls://box:1?ca=/a%2", "", {}},
      {"tcp+tls://box:1?key=/k.pem", "", {}},
      {"tcp+tls://box:1?pin=SHA256:" + kPin.substr(2), "", {}},
      {"tcp+tls://box:1?pin=SHA1:" + kPin, "", {}},
      {"tcp+tls://box:1?pin=SHA256:" + kPin + "&pin=SHA256:" + kPin, "", {}},
      {"telnet+tls://box:23", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto name = ParsePortName(c.name, Rule::Strict);
    ASSERT_EQ(name.has_value(), !c.fullName.empty());
    if (!name) {
      continue;
    }
    ASSERT_TRUE(name->IsNetwork());
    EXPECT_TRUE(name->Network().tls);
    EXPECT_EQ(name->Network().tlsSettings, c.settings);
    EXPECT_EQ(name->FullName(), c.fullName);
    EXPECT_EQ(name->Canonical(), c.fullName.substr(0, c.fullName.find('?')))
        << "reports show the address alone";
    const auto again = ParsePortName(name->FullName(), Rule::PortBox);
    ASSERT_TRUE(again.has_value()) << "the full spelling reads back, also in the port box";
    EXPECT_EQ(*again, *name);
  }
}

TEST(PortNameTest, AListenerTakesNoTls) {
  EXPECT_FALSE(ParseNetworkAddress("tcp+tls://127.0.0.1:0", PortNumbers::Listen).has_value());
  EXPECT_TRUE(ParseNetworkAddress("tcp://127.0.0.1:0", PortNumbers::Listen).has_value());
}

} // namespace
} // namespace kv58
