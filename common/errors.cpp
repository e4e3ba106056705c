#include "common/errors.h"

namespace kv58 {

ListIndexError::ListIndexError(std::int64_t index)
    : Exception("List index out of bounds (" + std::to_string(index) + ")") {}

FileOpenError::FileOpenError(std::string_view path) : Exception("Cannot open file " + std::string(path)) {}

} // namespace kv58
