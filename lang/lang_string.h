#pragma once
// One row of the language table: one line of the language file split into cells. Cell i is
// the text in language i; row 0 holds the language names.

#include <string>

#include "lang/string_list.h"

namespace kv58 {

class LANGstring {
public:
  LANGstring() = default;
  LANGstring(const LANGstring&) = default;
  LANGstring(LANGstring&&) noexcept = default;
  LANGstring& operator=(const LANGstring&) = default;
  LANGstring& operator=(LANGstring&&) noexcept = default;
  virtual ~LANGstring() = default;

  // Appends `text` as the row's next cell. The one overridable operation of a row.
  virtual void AddCell(const std::string& text) { Cells.Add(text); }

  TStringList Cells;
};

} // namespace kv58
