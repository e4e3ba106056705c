#pragma once
// TCOMSocket: the program's one path to the serial line. A thin, synchronous layer over the
// serial driver: each operation checks that the port is open, makes one driver call and
// reports success as a truth value or a byte count. It keeps no buffer, raises nothing and
// logs nothing; callers decide what a failure means.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "serial/comm_records.h"
#include "serial/port_name.h"
#include "serial/serial_driver.h"

namespace kv58 {

class TCOMSocket {
public:
  explicit TCOMSocket(SerialDriver& driver = SystemSerialDriver());
  ~TCOMSocket();
  TCOMSocket(const TCOMSocket&) = delete;
  TCOMSocket& operator=(const TCOMSocket&) = delete;

  [[nodiscard]] bool IsOpen() const { return Handle != 0; }
  // Takes n out of "COM" followed by n, or a network port name (rfc2217://, tcp://), by the
  // port box's rule (serial/port_name.h); refused while open, or without the capital "COM".
  [[nodiscard]] bool SetPortName(std::string_view name);
  // The same for a name read already, by any rule.
  [[nodiscard]] bool SetPortName(const PortName& name);
  // Closes, then opens "COM" followed by PortNumber, or the network port.
  [[nodiscard]] bool Open();
  // Why the last Open failed, as the driver tells it.
  [[nodiscard]] OpenFailure LastOpenFailure() const { return driver_.LastOpenFailure(); }
  [[nodiscard]] bool Close();
  [[nodiscard]] bool ReadSettings();
  [[nodiscard]] bool WriteSettings();
  [[nodiscard]] bool WriteTimeouts();
  [[nodiscard]] bool WriteQueueSizes();
  // Whether the line behind the open port is still there: its status can be read. False
  // when closed, and after an unplug or a hang-up of the other end.
  [[nodiscard]] bool LineIsAlive();
  // Whether received bytes were lost to a full input queue since the last call (the
  // driver's CE_RXOVER); each loss is told once.
  [[nodiscard]] bool TakeInputOverflow() { return std::exchange(InputOverflowed, false); }
  // Bytes received and not yet read; 0 when closed or when the status cannot be read.
  [[nodiscard]] std::uint32_t BytesWaiting();
  // Reads only what is already queued, at most `capacity` bytes; never waits for more.
  [[nodiscard]] std::uint32_t Read(void* buffer, std::uint32_t capacity);
  // The count the driver accepted; 0 when closed, for no bytes, or on failure. Returns once the
  // driver has the bytes: Drain waits until they have left.
  [[nodiscard]] std::uint32_t Write(const void* source, std::uint32_t count);
  // Waits, bounded, until what was written has left toward the display; false when closed or
  // when it had not left in time. The device's pauses begin with it.
  [[nodiscard]] bool Drain();

  // What the last WriteSettings could not do as asked, in words; empty when all went as asked.
  [[nodiscard]] std::string LineSettingsNote() const {
    return IsOpen() ? driver_.LineSettingsNote(Handle) : "";
  }
  // Why the last WriteSettings, Write or Drain failed, where the driver can tell (a device
  // server's line): NoAnswer, Interrupted (a request to stop cut it short), Lost; Kind::None
  // when closed, after a success, and for a local port.
  [[nodiscard]] OpenFailure LastStepFailure() const {
    return IsOpen() ? driver_.LastStepFailure(Handle) : OpenFailure{};
  }

  [[nodiscard]] PortHandle GetHandle() const { return Handle; }
  [[nodiscard]] std::int32_t GetPortNumber() const { return PortNumber; }
  // The port the last accepted SetPortName named; none before one.
  [[nodiscard]] const std::optional<PortName>& GetPortName() const { return Name; }
  [[nodiscard]] const COMSTAT& GetStatus() const { return Status; }

  // Filled by the owner between ReadSettings and the Write... calls.
  DCB Dcb;
  COMMTIMEOUTS Timeouts;
  std::uint32_t InQueueSize = 0;
  std::uint32_t OutQueueSize = 0;

private:
  [[nodiscard]] bool ReadStatus();

  SerialDriver& driver_;
  PortHandle Handle = 0;
  std::int32_t PortNumber = 0; // 0 for a network port
  std::optional<PortName> Name;
  COMSTAT Status;
  bool InputOverflowed = false;
};

} // namespace kv58
