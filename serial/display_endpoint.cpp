#include "serial/display_endpoint.h"

#include <algorithm>

namespace kv58 {

std::string CanonicalHostKey(std::string_view host) {
  std::string key(host);
  std::transform(key.begin(), key.end(), key.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return key;
}

std::string EndpointKey(const NetworkPort& port) {
  NetworkPort key = port;
  key.host = CanonicalHostKey(port.host);
  return HostAndPort(key);
}

bool ShareAnEndpoint(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  return std::any_of(a.begin(), a.end(), [&b](const std::string& endpoint) {
    return std::find(b.begin(), b.end(), endpoint) != b.end();
  });
}

} // namespace kv58
