#include "tools/kv58_sim/listen_address.h"

#include <array>
#include <utility>

#include "common/int_parse.h"

namespace kv58::sim {
namespace {

constexpr std::string_view kDefaultHost = "127.0.0.1";
constexpr std::size_t kMostPortDigits = 5;

std::optional<ListenAddress::Mode> TakeScheme(std::string_view& text) {
  constexpr std::array<std::pair<std::string_view, ListenAddress::Mode>, 3> kSchemes{{
      {"rfc2217://", ListenAddress::Mode::Rfc2217},
      {"tcp://", ListenAddress::Mode::Raw},
      {"socket://", ListenAddress::Mode::Raw},
  }};
  for (const auto& [scheme, mode] : kSchemes) {
    if (text.starts_with(scheme)) {
      text.remove_prefix(scheme.size());
      return mode;
    }
  }
  return std::nullopt;
}

// Letters, digits, dots and dashes for a name or an IPv4 address; hex digits, colons and dots
// (and a %zone) for an IPv6 address.
bool IsHostCharacter(char c, bool inBrackets) {
  const bool alphanumeric = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  if (inBrackets) {
    return alphanumeric || c == ':' || c == '.' || c == '%';
  }
  return alphanumeric || c == '.' || c == '-';
}

bool IsHost(std::string_view host, bool inBrackets) {
  if (host.empty()) {
    return false;
  }
  for (const char c : host) {
    if (!IsHostCharacter(c, inBrackets)) {
      return false;
    }
  }
  return true;
}

std::optional<std::uint16_t> ParsePort(std::string_view digits) {
  if (digits.size() > kMostPortDigits) {
    return std::nullopt;
  }
  const std::optional<std::uint32_t> value = WholeDecimal<std::uint32_t>(digits);
  if (!value || *value > 65535) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(*value);
}

} // namespace

std::optional<ListenAddress> ParseListenAddress(std::string_view text) {
  ListenAddress address;
  const std::optional<ListenAddress::Mode> mode = TakeScheme(text);
  if (!mode) {
    return std::nullopt;
  }
  address.mode = *mode;
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) {
    return std::nullopt;
  }
  std::string_view host = text.substr(0, colon);
  const bool bracketed = host.starts_with('[') && host.ends_with(']') && host.size() >= 2;
  if (bracketed) {
    host = host.substr(1, host.size() - 2);
  }
  // Brackets hold an IPv6 address, which always has a colon, and only that: ListenUrl puts
  // them back by the colon alone.
  const bool hasColon = host.find(':') != std::string_view::npos;
  if (host.empty() && !bracketed) {
    host = kDefaultHost;
  } else if (!IsHost(host, bracketed) || hasColon != bracketed) {
    return std::nullopt;
  }
  const std::optional<std::uint16_t> port = ParsePort(text.substr(colon + 1));
  if (!port) {
    return std::nullopt;
  }
  address.host = host;
  address.port = *port;
  return address;
}

std::string_view ListenAddressRule() {
  return "rfc2217://HOST:PORT, tcp://HOST:PORT or socket://HOST:PORT, HOST an IPv4 address, a host name or "
         "an IPv6 address in brackets (left out: 127.0.0.1), PORT a number from 0 to 65535 (0: any free "
         "port)";
}

std::string ListenUrl(const ListenAddress& address) {
  const std::string host =
      address.host.find(':') == std::string::npos ? address.host : "[" + address.host + "]";
  return std::string(address.mode == ListenAddress::Mode::Rfc2217 ? "rfc2217://" : "tcp://") + host + ":" +
         std::to_string(address.port);
}

} // namespace kv58::sim
