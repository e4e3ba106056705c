#pragma once
// Line rates that have no B-constant, through the Linux kernel's termios2 and BOTHER.
// Kept in a translation unit of its own: <asm/termbits.h> and <termios.h> define the same
// names and cannot meet. The flags travel in a neutral struct; their bit values are the
// kernel's in both headers.

#include <array>
#include <cstdint>
#include <optional>

namespace kv58 {

struct KernelLineFlags {
  std::uint32_t iflag = 0;
  std::uint32_t oflag = 0;
  std::uint32_t cflag = 0; // its speed bits are replaced
  std::uint32_t lflag = 0;
  std::uint8_t line = 0;
  std::array<std::uint8_t, 32> controlChars{};
};

// Applies the flags with `rate` as input and output rate, in one call. False when the
// kernel refuses.
[[nodiscard]] bool ApplyWithCustomRate(int fd, const KernelLineFlags& flags, std::uint32_t rate);

// The output rate the kernel holds for a line whose rate is not a B-constant; nullopt when
// it cannot be read or the line uses a B-constant.
[[nodiscard]] std::optional<std::uint32_t> ReadCustomRate(int fd);

} // namespace kv58
