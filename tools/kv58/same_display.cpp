#include "tools/kv58/same_display.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <system_error>
#include <thread>

#include "serial/display_endpoint.h"

namespace kv58::cli {
namespace {

// Look-ups at once: the names wait on the process's bounded pool in any case.
constexpr std::size_t kResolvers = 16;

std::string SpelledKey(const PortName& port) {
  return port.IsNetwork() ? EndpointKey(port.Network()) : port.Canonical();
}

std::string TwiceText(const Display& first, const Display& second, const std::string& shared) {
  const std::string where = " (" + first.source + ", and " + second.source + "): each display once";
  if (first.port.Canonical() == second.port.Canonical()) {
    return second.port.Canonical() + " is given twice" + where;
  }
  return first.port.Canonical() + " and " + second.port.Canonical() + " reach the same display (" + shared +
         ")" + where;
}

// The addresses of every network display, looked up at once within the bound; none for a
// local port or a name not resolved in time.
std::vector<std::optional<std::vector<std::string>>> Addresses(const std::vector<Display>& displays) {
  std::vector<std::optional<std::vector<std::string>>> found(displays.size());
  const auto deadline = std::chrono::steady_clock::now() + kSameDisplayLookUpBound;
  std::atomic<std::size_t> next{0};
  const auto resolve = [&] {
    for (std::size_t i = next++; i < displays.size(); i = next++) {
      if (displays[i].port.IsNetwork()) {
        found[i] = ResolvedEndpoints(displays[i].port.Network(), deadline);
      }
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < std::min(kResolvers, displays.size()); ++i) {
    try {
      threads.emplace_back(resolve);
    } catch (const std::system_error&) {
      break; // the threads started, or this one, resolve them all
    }
  }
  resolve();
  for (std::thread& thread : threads) {
    thread.join();
  }
  return found;
}

} // namespace

std::optional<std::string> SameDisplayTwice(const std::vector<Display>& displays, bool lookUp) {
  std::map<std::string, std::size_t> seen;
  for (std::size_t i = 0; i < displays.size(); ++i) {
    const std::string key = SpelledKey(displays[i].port);
    if (const auto [first, isNew] = seen.emplace(key, i); !isNew) {
      return TwiceText(displays[first->second], displays[i], key);
    }
  }
  const bool anyNetwork = std::any_of(displays.begin(), displays.end(),
                                      [](const Display& display) { return display.port.IsNetwork(); });
  if (!lookUp || displays.size() < 2 || !anyNetwork) {
    return std::nullopt;
  }
  const auto addresses = Addresses(displays);
  std::map<std::string, std::size_t> reached;
  for (std::size_t i = 0; i < displays.size(); ++i) {
    for (const std::string& address : addresses[i].value_or(std::vector<std::string>{})) {
      if (const auto [first, isNew] = reached.emplace(address, i); !isNew && first->second != i) {
        return TwiceText(displays[first->second], displays[i], address);
      }
    }
  }
  return std::nullopt;
}

} // namespace kv58::cli
