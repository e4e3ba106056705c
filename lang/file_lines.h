#pragma once
// Reads a text file line by line in fixed-size chunks, so the memory it needs does not grow
// with the file. Bytes are handed on unchanged: no code-page conversion, a byte-order mark
// stays in the first line.

#include <cstddef>
#include <filesystem>

#include "lang/line_splitter.h"

namespace kv58 {

inline constexpr std::size_t kDefaultReadChunkBytes = 64 * 1024;

// Hands `sink` every line of the file at `path`, in order. Returns false, having read nothing,
// when no file of that name exists; a folder of that name counts as no file. Raises
// FileOpenError("Cannot open file <path>") when it exists but cannot be opened or read (no
// read permission; a FIFO, a device or a socket, refused without blocking; a read error part
// way, after which the lines already handed on stay handed on).
[[nodiscard]] bool ForEachFileLine(const std::filesystem::path& path, const LineSplitter::LineSink& sink,
                                   std::size_t chunkBytes = kDefaultReadChunkBytes);

} // namespace kv58
