#pragma once
// The file that --send-file pushes at the program: read whole at start, so a missing file
// fails at once. Only a regular file is taken (a FIFO would block the start, a device such as
// /dev/zero would never end), and only up to a size that the program's one-second reads
// take in a few ticks.

#include <cstddef>
#include <filesystem>
#include <string>

namespace kv58::sim {

inline constexpr std::size_t kMostPushFileBytes = std::size_t{1} << 20; // 1 MiB

// Appends the file's bytes to `into`. False with the reason in `error` when the file is
// missing, not a regular file, larger than kMostPushFileBytes, or fails to read.
[[nodiscard]] bool LoadPushFile(const std::filesystem::path& path, std::string& into, std::string& error);

} // namespace kv58::sim
