#include "serial/port_discovery.h"

#include <algorithm>
#include <numeric>
#include <string_view>

#include "common/errors.h"
#include "common/int_parse.h"

namespace kv58 {
namespace {

// Closes the key however the reading ends, as freeing the registry reader would.
class KeyCloser {
public:
  explicit KeyCloser(PortSource& source) : source_(source) {}
  ~KeyCloser() {
    try {
      source_.CloseKey();
    } catch (...) {
      // dropped like every other failure of the source
    }
  }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

private:
  PortSource& source_;
};

// The names in enumeration order, up to the first value that cannot be read.
std::vector<std::string> GatherPortNames(PortSource& source) {
  std::vector<std::string> names;
  try {
    const KeyCloser closer(source);
    if (source.OpenKey()) {
      for (const auto& valueName : source.ValueNames()) {
        names.push_back(source.ReadString(valueName));
      }
    }
  } catch (...) {
    // A value that is not text, or any other failure of the source, ends the listing
    // quietly: the port box shows what was found until then.
  }
  return names;
}

std::int32_t PortNumberOf(const std::vector<std::string>& list, std::size_t position) {
  if (position >= list.size()) {
    throw ListIndexError(static_cast<std::int64_t>(position));
  }
  constexpr std::size_t kNumberStart = 3;
  constexpr std::size_t kLongestNumber = 16;
  const std::string_view name = list[position];
  const auto number =
      name.size() > kNumberStart ? name.substr(kNumberStart, kLongestNumber) : std::string_view{};
  return ToIntOrDefault(number, 0);
}

} // namespace

std::int32_t ComparePortNumbers(const std::vector<std::string>& list, std::size_t first, std::size_t second) {
  // Compared rather than subtracted: COM2147483647 minus COM-2147483648 does not fit 32 bits.
  const auto firstNumber = PortNumberOf(list, first);
  const auto secondNumber = PortNumberOf(list, second);
  return firstNumber < secondNumber ? -1 : (firstNumber > secondNumber ? 1 : 0);
}

void ListSerialPorts(PortSource& source, std::vector<std::string>& target) {
  target.clear();
  const auto names = GatherPortNames(source);
  std::vector<std::size_t> order(names.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&names](std::size_t first, std::size_t second) {
    return ComparePortNumbers(names, first, second) < 0;
  });
  target.reserve(names.size());
  for (const auto position : order) {
    target.push_back(names[position]);
  }
}

} // namespace kv58
