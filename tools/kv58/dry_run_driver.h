#pragma once
// The serial driver of --dry-run: opens nothing and prints what would go on the line, in
// hex, and the pauses between. A frame's marker byte or a page starts a new line, so each
// frame and each page stands on a line of its own.

#include <ostream>

#include "protocol/pause.h"
#include "serial/serial_driver.h"

namespace kv58::cli {

class DryRunDriver : public SerialDriver {
public:
  explicit DryRunDriver(std::ostream& out) : out_(out) {}

  // A pause that is printed ("pause 1000 ms") instead of waited.
  [[nodiscard]] Pause PrintingPause();
  // Ends the line of bytes being printed, if any.
  void EndLine();

  PortHandle CreateFileA(std::string_view portName) override;
  OpenFailure LastOpenFailure() const override { return {}; }
  bool CloseHandle(PortHandle handle) override;
  bool GetCommState(PortHandle handle, DCB& dcb) override;
  bool SetCommState(PortHandle handle, const DCB& dcb) override;
  bool SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) override;
  bool SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) override;
  bool ReadFile(PortHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) override;
  bool WriteFile(PortHandle handle, const void* buffer, std::uint32_t count, std::uint32_t& written) override;
  bool FlushFileBuffers(PortHandle /*handle*/) override { return true; } // nothing waits in a dry run

private:
  std::ostream& out_;
  bool lineOpen_ = false;
};

} // namespace kv58::cli
