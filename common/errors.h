#pragma once
// Errors that the string-list and file layers raise. Handlers do not catch them; the
// window's guard shows their message in the error box.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kv58 {

// Base of every error this program raises on purpose; its message is what the user reads.
class Exception : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// An index outside a string list: "List index out of bounds (%d)".
class ListIndexError : public Exception {
public:
  explicit ListIndexError(std::int64_t index);
};

// A file that exists but cannot be read: "Cannot open file %s".
class FileOpenError : public Exception {
public:
  explicit FileOpenError(std::string_view path);
};

} // namespace kv58
