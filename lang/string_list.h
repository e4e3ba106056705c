#pragma once
// An ordered list of 8-bit texts, the container behind a language row's cells. Reading past
// either end is an error the user gets to see, so it raises ListIndexError instead of
// handing back garbage.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv58 {

class TStringList {
public:
  [[nodiscard]] std::size_t Count() const noexcept { return items_.size(); }

  // The text at `index`; raises ListIndexError(index) when index < 0 or index >= Count().
  [[nodiscard]] const std::string& Strings(std::int64_t index) const;

  void Add(std::string text);
  void Clear() noexcept { items_.clear(); }

  [[nodiscard]] auto begin() const noexcept { return items_.cbegin(); }
  [[nodiscard]] auto end() const noexcept { return items_.cend(); }

private:
  std::vector<std::string> items_;
};

} // namespace kv58
