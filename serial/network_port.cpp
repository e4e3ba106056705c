#include "serial/network_port.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "common/int_parse.h"

namespace kv58 {
namespace {

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

// 1 to 65535 in decimal, digits only.
std::optional<std::uint16_t> PortNumber(std::string_view digits) {
  const auto value = WholeDecimal<std::uint16_t>(digits);
  return value == 0 ? std::nullopt : value;
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

} // namespace

std::optional<NetworkPort> ParseNetworkPort(std::string_view name) {
  const std::size_t separator = name.find(kSeparator);
  if (separator == std::string_view::npos) {
    return std::nullopt;
  }
  const auto mode = ModeOfScheme(name.substr(0, separator));
  const auto parts = SplitAuthority(name.substr(separator + kSeparator.size()));
  if (!mode || !parts || parts->first.empty()) {
    return std::nullopt;
  }
  const auto port = PortNumber(parts->second);
  if (!port) {
    return std::nullopt;
  }
  return NetworkPort{*mode, std::string(parts->first), *port};
}

std::string HostAndPort(const NetworkPort& port) {
  const bool ipv6 = port.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + port.host + "]" : port.host) + ":" + std::to_string(port.port);
}

std::string NetworkPortName(const NetworkPort& port) {
  const std::string scheme = port.mode == NetworkPort::Mode::Rfc2217 ? "rfc2217" : "tcp";
  return scheme + std::string(kSeparator) + HostAndPort(port);
}

} // namespace kv58
