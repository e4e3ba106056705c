#pragma once
// The line settings record (DCB) as a termios struct, and back. Pure translation: the
// serial driver applies the result and reads it back. Members a termios cannot express
// are either refused (they would change what goes over the line) or left alone.

#include <termios.h>

#include <cstdint>
#include <optional>

#include "serial/comm_records.h"

namespace kv58 {

struct LineSettings {
  termios attributes{}; // raw mode, framing and flow control; the rate is set apart
  std::uint32_t rate = 0;
};

// Raw settings for `dcb`, built on `current` so that what the DCB has no say in stays as the
// tty had it. nullopt when the DCB asks for something this line cannot do.
[[nodiscard]] std::optional<LineSettings> BuildLineSettings(const DCB& dcb, const termios& current);

// Fills the members of `dcb` that the termios and the rate tell; the others keep their values.
void ReadLineSettings(const termios& attributes, std::uint32_t rate, DCB& dcb);

// Whether two records agree on rate, data bits, parity and stop bits.
[[nodiscard]] bool SameFraming(const DCB& first, const DCB& second);

// The termios speed constant for a rate in bits per second, and back.
[[nodiscard]] std::optional<speed_t> SpeedConstantOfRate(std::uint32_t rate);
[[nodiscard]] std::optional<std::uint32_t> RateOfSpeedConstant(speed_t speed);

} // namespace kv58
