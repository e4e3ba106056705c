#include "lang/string_list.h"

#include <utility>

#include "common/errors.h"

namespace kv58 {

const std::string& TStringList::Strings(std::int64_t index) const {
  if (index < 0 || static_cast<std::uint64_t>(index) >= items_.size()) {
    throw ListIndexError(index);
  }
  return items_[static_cast<std::size_t>(index)];
}

void TStringList::Add(std::string text) { items_.push_back(std::move(text)); }

} // namespace kv58
