#include "serial/port_name.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "common/int_parse.h"

namespace kv58 {
namespace {

constexpr std::string_view kComPrefix = "COM";
constexpr std::string_view kSeparator = "://";
constexpr std::string_view kTlsSuffix = "+tls";
constexpr std::string_view kPinPrefix = "SHA256:";
constexpr std::array<std::pair<std::string_view, NetworkPort::Mode>, 3> kSchemes{{
    {"rfc2217", NetworkPort::Mode::Rfc2217},
    {"tcp", NetworkPort::Mode::Raw},
    {"socket", NetworkPort::Mode::Raw},
}};

// The options of a TLS name, in the order FullName writes them.
constexpr std::array<std::pair<std::string_view, std::string TlsSettings::*>, 5> kTlsOptions{{
    {"pin", &TlsSettings::pinSha256},
    {"ca", &TlsSettings::caFile},
    {"name", &TlsSettings::expectedName},
    {"cert", &TlsSettings::certFile},
    {"key", &TlsSettings::keyFile},
}};

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<NetworkPort::Mode> ModeOfScheme(std::string_view scheme) {
  for (const auto& [name, mode] : kSchemes) {
    if (SameLetters(scheme, name)) {
      return mode;
    }
  }
  return std::nullopt;
}

std::optional<int> HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower >= 'a' && lower <= 'f') {
    return lower - 'a' + 10;
  }
  return std::nullopt;
}

// A query value: "%26" for '&' and the like, so that any path fits; a stray '%' is refused.
std::optional<std::string> PercentDecoded(std::string_view text) {
  std::string decoded;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '%') {
      decoded += text[at];
      continue;
    }
    const auto high = at + 2 < text.size() ? HexValue(text[at + 1]) : std::nullopt;
    const auto low = at + 2 < text.size() ? HexValue(text[at + 2]) : std::nullopt;
    if (!high || !low) {
      return std::nullopt;
    }
    decoded += static_cast<char>(*high * 16 + *low);
    at += 2;
  }
  return decoded;
}

std::string PercentEncoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 || std::string_view("-._~/:\\").find(c) != std::string_view::npos) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0xF];
    }
  }
  return encoded;
}

// "?pin=…&ca=…": each known option once, none empty.
std::optional<TlsSettings> ParseTlsOptions(std::string_view query) {
  TlsSettings settings;
  std::array<bool, kTlsOptions.size()> seen{};
  for (std::size_t start = 0; start <= query.size();) {
    const std::size_t end = std::min(query.find('&', start), query.size());
    const std::string_view option = query.substr(start, end - start);
    start = end + 1;
    const std::size_t equals = option.find('=');
    if (equals == std::string_view::npos) {
      return std::nullopt;
    }
    const std::string_view key = option.substr(0, equals);
    const auto known = std::find_if(kTlsOptions.begin(), kTlsOptions.end(),
                                    [key](const auto& each) { return each.first == key; });
    const auto value = PercentDecoded(option.substr(equals + 1));
    if (known == kTlsOptions.end() || !value || value->empty()) {
      return std::nullopt;
    }
    const auto index = static_cast<std::size_t>(known - kTlsOptions.begin());
    if (seen[index]) {
      return std::nullopt;
    }
    seen[index] = true;
    if (known->first == "pin") {
      const auto pin = ParseCertificatePin(*value);
      if (!pin) {
        return std::nullopt;
      }
      settings.pinSha256 = *pin;
    } else {
      settings.*(known->second) = *value;
    }
  }
  // A key alone says nothing: it belongs to a certificate (which may itself hold its key).
  if (!settings.keyFile.empty() && settings.certFile.empty()) {
    return std::nullopt;
  }
  return settings;
}

bool IsHostNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_';
}

bool IsIpv6Char(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.'; }

// 1 to 65535 in decimal, digits only; 0 too for a listener.
std::optional<std::uint16_t> TcpPortNumber(std::string_view digits, PortNumbers numbers) {
  const auto value = WholeDecimal<std::uint16_t>(digits);
  return value == 0 && numbers == PortNumbers::Connect ? std::nullopt : value;
}

// "host:port" or "[v6]:port": the host and the port's digits.
std::optional<std::pair<std::string_view, std::string_view>> SplitAuthority(std::string_view authority) {
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos || authority.substr(close + 1, 1) != ":") {
      return std::nullopt;
    }
    const std::string_view host = authority.substr(1, close - 1);
    if (host.find(':') == std::string_view::npos || !std::all_of(host.begin(), host.end(), IsIpv6Char)) {
      return std::nullopt;
    }
    return std::pair(host, authority.substr(close + 2));
  }
  const std::size_t colon = authority.find(':');
  if (colon == std::string_view::npos) {
    return std::nullopt;
  }
  const std::string_view host = authority.substr(0, colon);
  if (!std::all_of(host.begin(), host.end(), IsHostNameChar)) {
    return std::nullopt;
  }
  return std::pair(host, authority.substr(colon + 1));
}

std::optional<std::int32_t> ComNumberOf(std::string_view text, PortNameRule rule) {
  if (text.size() < kComPrefix.size()) {
    return std::nullopt;
  }
  const std::string_view prefix = text.substr(0, kComPrefix.size());
  const std::string_view number = text.substr(kComPrefix.size());
  if (rule == PortNameRule::PortBox) {
    const std::int32_t value = prefix == kComPrefix ? ToIntOrDefault(number, 0) : 0;
    return value != 0 ? std::optional(value) : std::nullopt;
  }
  const auto value = SameLetters(prefix, kComPrefix) ? WholeDecimal<std::int32_t>(number) : std::nullopt;
  return value > 0 ? value : std::nullopt;
}

} // namespace

std::int32_t PortName::ComNumber() const {
  const auto* number = std::get_if<std::int32_t>(&port_);
  return number != nullptr ? *number : 0;
}

std::string PortName::Canonical() const {
  return IsNetwork() ? NetworkPortName(Network()) : std::string(kComPrefix) + std::to_string(ComNumber());
}

std::string PortName::FullName() const {
  std::string name = Canonical();
  if (!IsNetwork() || !Network().tls) {
    return name;
  }
  char separator = '?';
  for (const auto& [key, field] : kTlsOptions) {
    const std::string& value = Network().tlsSettings.*field;
    if (!value.empty()) {
      name += separator + std::string(key) + "=" +
              (key == "pin" ? std::string(kPinPrefix) + value : PercentEncoded(value));
      separator = '&';
    }
  }
  return name;
}

std::optional<std::string> ParseCertificatePin(std::string_view text) {
  if (text.size() >= kPinPrefix.size() && SameLetters(text.substr(0, kPinPrefix.size()), kPinPrefix)) {
    text.remove_prefix(kPinPrefix.size());
  }
  std::string hex;
  for (const char c : text) {
    if (c == ':') {
      continue;
    }
    const auto digit = HexValue(c);
    if (!digit) {
      return std::nullopt;
    }
    hex += "0123456789abcdef"[*digit];
  }
  return hex.size() == 64 ? std::optional(hex) : std::nullopt;
}

// SCHEME://HOST:PORT, the scheme in any case, as URLs take it; SCHEME+tls://HOST:PORT?OPTIONS
// where a program connects.
std::optional<NetworkPort> ParseNetworkAddress(std::string_view text, PortNumbers numbers) {
  const std::size_t separator = text.find(kSeparator);
  if (separator == std::string_view::npos) {
    return std::nullopt;
  }
  std::string_view scheme = text.substr(0, separator);
  const bool tls = scheme.size() > kTlsSuffix.size() &&
                   SameLetters(scheme.substr(scheme.size() - kTlsSuffix.size()), kTlsSuffix);
  if (tls) {
    scheme.remove_suffix(kTlsSuffix.size());
  }
  std::string_view rest = text.substr(separator + kSeparator.size());
  const std::size_t question = rest.find('?');
  const bool hasQuery = question != std::string_view::npos;
  const std::string_view query = hasQuery ? rest.substr(question + 1) : std::string_view();
  rest = rest.substr(0, question);
  const auto mode = ModeOfScheme(scheme);
  const auto parts = SplitAuthority(rest);
  if (!mode || !parts || parts->first.empty() || (hasQuery && !tls) ||
      (tls && numbers != PortNumbers::Connect)) {
    return std::nullopt;
  }
  const auto port = TcpPortNumber(parts->second, numbers);
  if (!port) {
    return std::nullopt;
  }
  NetworkPort network{*mode, std::string(parts->first), *port};
  if (tls) {
    const auto settings = hasQuery ? ParseTlsOptions(query) : std::optional(TlsSettings());
    if (!settings) {
      return std::nullopt;
    }
    network.tls = true;
    network.tlsSettings = *settings;
  }
  return network;
}

std::optional<PortName> ParsePortName(std::string_view text, PortNameRule rule) {
  if (auto network = ParseNetworkAddress(text, PortNumbers::Connect)) {
    return PortName(std::move(*network));
  }
  if (const auto number = ComNumberOf(text, rule)) {
    return PortName(*number);
  }
  return std::nullopt;
}

std::string PortNameRuleText() {
  return "a port name is COM and a number from 1 (COM5), rfc2217://HOST:PORT or tcp://HOST:PORT, or "
         "rfc2217+tls:// or tcp+tls:// with options ?pin=SHA256:HEX&ca=FILE&name=NAME&cert=FILE&key=FILE";
}

} // namespace kv58
