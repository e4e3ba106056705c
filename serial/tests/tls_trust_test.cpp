// The trust rules both TLS layers ask, fed what a handshake would have seen: a pin decides
// alone, else the chain, and then the name, with IP literals held against the IP entries.

#include "serial/tls_trust.h"

#include <gtest/gtest.h>

namespace kv58 {
namespace {

using Kind = OpenFailure::Kind;

const std::string kSha = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
const std::string kOtherSha = "ffeeddccbbaa99887766554433221100ffeeddccbbaa99887766554433221100";

PresentedCertificate Certificate(bool verified, std::vector<std::string> dns,
                                 std::vector<std::string> ips = {}) {
  PresentedCertificate presented;
  presented.sha256 = kSha;
  presented.chainVerified = verified;
  presented.chainProblem = verified ? "" : "self-signed certificate";
  presented.dnsNames = std::move(dns);
  presented.ipAddresses = std::move(ips);
  return presented;
}

NetworkPort Port(std::string host, TlsSettings settings = TlsSettings()) {
  NetworkPort port(NetworkPort::Mode::Rfc2217, std::move(host), 7001);
  port.tls = true;
  port.tlsSettings = std::move(settings);
  return port;
}

const std::string kLoopback4{'\x7f', '\x00', '\x00', '\x01'};
const std::string kLoopback6 = std::string(15, '\0') + '\x01';

struct TrustCase {
  const char* name;
  NetworkPort port;
  PresentedCertificate presented;
  Kind expected;
};

class DecideTrustTest : public testing::TestWithParam<TrustCase> {};

TEST_P(DecideTrustTest, DecidesAsTheRulesSay) {
  const TrustCase& row = GetParam();
  const OpenFailure decided = DecideTrust(row.port, row.presented);
  EXPECT_EQ(decided.kind, row.expected) << decided.detail;
  EXPECT_EQ(decided.detail.empty(), row.expected == Kind::None) << decided.detail;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DecideTrustTest,
    testing::Values(
        TrustCase{"PinRightTrustsAnUnverifiedCertificateOfAnyName",
                  Port("box", TlsSettings{.pinSha256 = kSha}), Certificate(false, {"elsewhere"}), Kind::None},
        TrustCase{"PinInCapitalsStillMatches",
                  Port("box",
                       TlsSettings{
                           .pinSha256 = "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF"}),
                  Certificate(false, {}), Kind::None},
        TrustCase{"PinWrongRefusesEvenAVerifiedCertificateOfTheRightName",
                  Port("box", TlsSettings{.pinSha256 = kOtherSha}), Certificate(true, {"box"}),
                  Kind::TlsPinMismatch},
        TrustCase{"ChainNotVerifiedIsUntrusted", Port("box"), Certificate(false, {"box"}),
                  Kind::TlsUntrusted},
        TrustCase{"ChainNotVerifiedByTheCaFileIsUntrusted", Port("box", TlsSettings{.caFile = "/etc/ca.pem"}),
                  Certificate(false, {"box"}), Kind::TlsUntrusted},
        TrustCase{"VerifiedAndNamedIsTrusted", Port("box.example"), Certificate(true, {"BOX.Example"}),
                  Kind::None},
        TrustCase{"VerifiedForAnotherNameIsRefused", Port("box.example"),
                  Certificate(true, {"other.example"}), Kind::TlsNameMismatch},
        TrustCase{"NameOptionOverridesTheHost", Port("127.0.0.1", TlsSettings{.expectedName = "box-ser2net"}),
                  Certificate(true, {"box-ser2net"}), Kind::None},
        TrustCase{"NameOptionIsCheckedInsteadOfTheHost", Port("box", TlsSettings{.expectedName = "other"}),
                  Certificate(true, {"box"}), Kind::TlsNameMismatch},
        TrustCase{"WildcardCoversOneLabel", Port("a.shop.example"), Certificate(true, {"*.shop.example"}),
                  Kind::None},
        TrustCase{"WildcardDoesNotCoverTwoLabels", Port("a.b.shop.example"),
                  Certificate(true, {"*.shop.example"}), Kind::TlsNameMismatch},
        TrustCase{"WildcardDoesNotCoverTheBareDomain", Port("shop.example"),
                  Certificate(true, {"*.shop.example"}), Kind::TlsNameMismatch},
        TrustCase{"Ipv4LiteralAgainstItsIpEntry", Port("127.0.0.1"), Certificate(true, {}, {kLoopback4}),
                  Kind::None},
        TrustCase{"Ipv4LiteralIsNotMatchedByADnsEntryOfItsText", Port("127.0.0.1"),
                  Certificate(true, {"127.0.0.1"}), Kind::TlsNameMismatch},
        TrustCase{"Ipv6LiteralAgainstItsIpEntry", Port("::1"), Certificate(true, {}, {kLoopback6}),
                  Kind::None},
        TrustCase{"Ipv6LiteralIsNotTheIpv4EntryOfTheSameEnding", Port("::1"),
                  Certificate(true, {}, {kLoopback4}), Kind::TlsNameMismatch},
        TrustCase{"Ipv4MappedIpv6IsItsOwnAddress", Port("::ffff:127.0.0.1"),
                  Certificate(true, {}, {kLoopback4}), Kind::TlsNameMismatch}),
    [](const testing::TestParamInfo<TrustCase>& row) { return row.param.name; });

TEST(TlsTrustWordsTest, RefusalsNameTheServerTheFingerprintAndThePinToAdd) {
  const OpenFailure untrusted = DecideTrust(Port("box"), Certificate(false, {"box"}));
  EXPECT_NE(untrusted.detail.find("box:7001"), std::string::npos) << untrusted.detail;
  EXPECT_NE(untrusted.detail.find("SHA256:00:11:22:33"), std::string::npos) << "as openssl prints it";
  EXPECT_NE(untrusted.detail.find("?pin=SHA256:" + kSha), std::string::npos) << untrusted.detail;
  EXPECT_NE(untrusted.detail.find("self-signed certificate"), std::string::npos) << untrusted.detail;

  const OpenFailure pinned =
      DecideTrust(Port("box", TlsSettings{.pinSha256 = kOtherSha}), Certificate(true, {"box"}));
  EXPECT_NE(pinned.detail.find("possible interception"), std::string::npos) << pinned.detail;
  EXPECT_NE(pinned.detail.find("SHA256:00:11"), std::string::npos) << pinned.detail;

  const OpenFailure misnamed = DecideTrust(Port("::1"), Certificate(true, {"box"}, {kLoopback4}));
  EXPECT_NE(misnamed.detail.find("[::1]:7001"), std::string::npos) << misnamed.detail;
  EXPECT_NE(misnamed.detail.find("box, 127.0.0.1"), std::string::npos) << misnamed.detail;
}

TEST(TlsTrustWordsTest, MalformedIpLiteralsAreNamesThatMatchNothing) {
  const PresentedCertificate presented = Certificate(true, {}, {kLoopback4, kLoopback6});
  for (const char* name : {"127.0.0.256", "1::2::3", "127.0.0", "::1:", "12345::1", ""}) {
    EXPECT_FALSE(CertificateNames(presented, name)) << name;
  }
}

} // namespace
} // namespace kv58
