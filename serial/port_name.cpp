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
constexpr std::array<std::pair<std::string_view, NetworkPort::Mode>, 3> kSchemes{{
    {"rfc2217", NetworkPort::Mode::Rfc2217},
    {"tcp", NetworkPort::Mode::Raw},
    {"socket", NetworkPort::Mode::Raw},
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

// SCHEME://HOST:PORT, the scheme in any case, as URLs take it.
std::optional<NetworkPort> ParseNetworkAddress(std::string_view text, PortNumbers numbers) {
  const std::size_t separator = text.find(kSeparator);
  if (separator == std::string_view::npos) {
    return std::nullopt;
  }
  const auto mode = ModeOfScheme(text.substr(0, separator));
  const auto parts = SplitAuthority(text.substr(separator + kSeparator.size()));
  if (!mode || !parts || parts->first.empty()) {
    return std::nullopt;
  }
  const auto port = TcpPortNumber(parts->second, numbers);
  if (!port) {
    return std::nullopt;
  }
  return NetworkPort{*mode, std::string(parts->first), *port};
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
  return "a port name is COM and a number from 1 (COM5), rfc2217://HOST:PORT or tcp://HOST:PORT";
}

} // namespace kv58
