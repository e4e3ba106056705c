#include "serial/tls_trust.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

namespace kv58 {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

std::optional<int> HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  c = Lower(c);
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return std::nullopt;
}

// "192.0.2.1": four decimal parts of 0..255, nothing else.
std::optional<std::array<unsigned char, 4>> ParseIpv4(std::string_view text) {
  std::array<unsigned char, 4> bytes{};
  std::size_t part = 0;
  std::size_t at = 0;
  while (part < 4) {
    std::size_t digits = 0;
    unsigned value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3) {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || value > 255) {
      return std::nullopt;
    }
    bytes[part++] = static_cast<unsigned char>(value);
    if (part < 4) {
      if (at >= text.size() || text[at] != '.') {
        return std::nullopt;
      }
      ++at;
    }
  }
  if (at != text.size()) {
    return std::nullopt;
  }
  return bytes;
}

// "2001:db8::1", "::ffff:192.0.2.1": groups of up to four hex digits, one "::" at most, an
// IPv4 address as the last two groups.
std::optional<std::array<unsigned char, 16>> ParseIpv6(std::string_view text) {
  std::array<unsigned char, 16> bytes{};
  std::size_t count = 0;          // bytes written
  std::optional<std::size_t> gap; // where "::" stood, in bytes
  std::size_t at = 0;
  if (text.substr(0, 2) == "::") {
    gap = 0;
    at = 2;
  }
  while (at < text.size()) {
    const std::size_t end = std::min(text.find(':', at), text.size());
    const std::string_view group = text.substr(at, end - at);
    if (group.find('.') != std::string_view::npos) {
      const auto v4 = ParseIpv4(group);
      if (!v4 || end != text.size() || count + 4 > 16) {
        return std::nullopt;
      }
      std::copy(v4->begin(), v4->end(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
      count += 4;
      at = end;
      break;
    }
    if (group.empty() || group.size() > 4 || count + 2 > 16) {
      return std::nullopt;
    }
    unsigned value = 0;
    for (char c : group) {
      const auto digit = HexDigit(c);
      if (!digit) {
        return std::nullopt;
      }
      value = value * 16 + static_cast<unsigned>(*digit);
    }
    bytes[count++] = static_cast<unsigned char>(value >> 8);
    bytes[count++] = static_cast<unsigned char>(value & 0xFF);
    at = end;
    if (at == text.size()) {
      break;
    }
    ++at; // the ':'
    if (at < text.size() && text[at] == ':') {
      if (gap) {
        return std::nullopt;
      }
      gap = count;
      ++at;
    } else if (at == text.size()) {
      return std::nullopt; // a lone trailing ':'
    }
  }
  if (gap) {
    if (count == 16) {
      return std::nullopt; // "::" must stand for at least one group
    }
    const std::size_t tail = count - *gap;
    std::copy_backward(bytes.begin() + static_cast<std::ptrdiff_t>(*gap),
                       bytes.begin() + static_cast<std::ptrdiff_t>(count), bytes.end());
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(*gap),
              bytes.end() - static_cast<std::ptrdiff_t>(tail), static_cast<unsigned char>(0));
  } else if (count != 16) {
    return std::nullopt;
  }
  return bytes;
}

// The raw bytes of an IP literal, as a certificate's IP entries hold them.
std::optional<std::string> IpLiteralBytes(std::string_view name) {
  if (const auto v4 = ParseIpv4(name)) {
    return std::string(v4->begin(), v4->end());
  }
  if (name.find(':') != std::string_view::npos) {
    if (const auto v6 = ParseIpv6(name)) {
      return std::string(v6->begin(), v6->end());
    }
  }
  return std::nullopt;
}

// A DNS entry against a host name: case-blind; "*." stands for exactly one whole leftmost label.
bool DnsNameMatches(std::string_view entry, std::string_view host) {
  if (!entry.empty() && entry.back() == '.') {
    entry.remove_suffix(1);
  }
  if (entry.substr(0, 2) == "*.") {
    const std::size_t dot = host.find('.');
    if (dot == 0 || dot == std::string_view::npos) {
      return false;
    }
    const std::string_view rest = entry.substr(2);
    // "*.com" would vouch for every name under a top-level domain: such an entry matches nothing.
    return rest.find('.') != std::string_view::npos && SameIgnoringCase(rest, host.substr(dot + 1));
  }
  return entry.find('*') == std::string_view::npos && SameIgnoringCase(entry, host);
}

std::string IpEntryText(const std::string& raw) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  if (raw.size() == 4) {
    for (std::size_t i = 0; i < 4; ++i) {
      text += (i ? "." : "") + std::to_string(static_cast<unsigned char>(raw[i]));
    }
    return text;
  }
  for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
    if (i > 0) {
      text += ':';
    }
    const unsigned value = (static_cast<unsigned>(static_cast<unsigned char>(raw[i])) << 8) |
                           static_cast<unsigned char>(raw[i + 1]);
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned nibble = (value >> shift) & 0xF;
      if (nibble != 0 || started || shift == 0) {
        text += kHex[nibble];
        started = true;
      }
    }
  }
  return text;
}

// "a.example, 192.0.2.1", or "no name" when the certificate carries none.
std::string NamesText(const PresentedCertificate& presented) {
  std::string text;
  for (const std::string& name : presented.dnsNames) {
    text += (text.empty() ? "" : ", ") + name;
  }
  for (const std::string& raw : presented.ipAddresses) {
    text += (text.empty() ? "" : ", ") + IpEntryText(raw);
  }
  return text.empty() ? "no name" : text;
}

// "trust this certificate alone by adding ?pin=SHA256:… (its fingerprint: SHA256:AB:…)".
std::string PinAdvice(const PresentedCertificate& presented) {
  return "trust this certificate alone by adding ?pin=SHA256:" + presented.sha256 +
         " to the port name (its fingerprint: " + FingerprintText(presented.sha256) + ")";
}

} // namespace

std::string ExpectedServerName(const NetworkPort& port) {
  return port.tlsSettings.expectedName.empty() ? port.host : port.tlsSettings.expectedName;
}

bool CertificateNames(const PresentedCertificate& presented, std::string_view name) {
  if (!name.empty() && name.back() == '.') {
    name.remove_suffix(1);
  }
  if (name.empty()) {
    return false;
  }
  if (const auto raw = IpLiteralBytes(name)) {
    return std::find(presented.ipAddresses.begin(), presented.ipAddresses.end(), *raw) !=
           presented.ipAddresses.end();
  }
  return std::any_of(presented.dnsNames.begin(), presented.dnsNames.end(),
                     [name](const std::string& entry) { return DnsNameMatches(entry, name); });
}

std::string FingerprintText(std::string_view sha256Hex) {
  std::string text = "SHA256:";
  for (std::size_t i = 0; i < sha256Hex.size(); ++i) {
    if (i > 0 && i % 2 == 0) {
      text += ':';
    }
    text += static_cast<char>(std::toupper(static_cast<unsigned char>(sha256Hex[i])));
  }
  return text;
}

OpenFailure DecideTrust(const NetworkPort& port, const PresentedCertificate& presented) {
  using Kind = OpenFailure::Kind;
  const TlsSettings& settings = port.tlsSettings;
  const std::string where = HostAndPort(port);
  if (!settings.pinSha256.empty()) {
    if (SameIgnoringCase(settings.pinSha256, presented.sha256)) {
      return {};
    }
    return {Kind::TlsPinMismatch,
            where + " presented a certificate other than the pinned one (possible interception): " +
                FingerprintText(presented.sha256) + " where the pin is " +
                FingerprintText(settings.pinSha256)};
  }
  if (!presented.chainVerified) {
    const std::string voucher = settings.caFile.empty() ? "no CA of the system's store"
                                                        : "the CA file " + settings.caFile + " does not";
    const std::string problem = presented.chainProblem.empty() ? "" : " (" + presented.chainProblem + ")";
    const std::string vouches = settings.caFile.empty() ? " vouches for" : " vouch for";
    return {Kind::TlsUntrusted, where + "'s certificate is not trusted: " + voucher + vouches + " it" +
                                    problem + "; " + PinAdvice(presented)};
  }
  const std::string expected = ExpectedServerName(port);
  if (!CertificateNames(presented, expected)) {
    return {Kind::TlsNameMismatch, where + "'s certificate is not for " + expected + " (it names " +
                                       NamesText(presented) + "): give the name it carries with ?name=, or " +
                                       PinAdvice(presented)};
  }
  return {};
}

} // namespace kv58
