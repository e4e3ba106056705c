#pragma once
// The fixed line settings the display expects: 8 data bits, no parity, one stop bit, no
// flow control, modem lines off, 1 KiB queues and short time-outs. Only the rate is chosen.

#include <cstdint>

namespace kv58 {

class TCOMSocket;

// Writes the device's settings into the port's records, over what the driver reported.
void SetDeviceLineSettings(TCOMSocket& port, std::int32_t baudRate);

// The rate used when the speed text is not a whole number.
inline constexpr std::int32_t kFallbackBaudRate = 500000;

} // namespace kv58
