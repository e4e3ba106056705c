#pragma once
// A serial driver for tests: records every call with its arguments and answers from a
// script. Bytes the device "sent" wait in `incoming`; bytes written collect in `sent`.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "serial/serial_driver.h"

namespace kv58::testing {

class FakeSerialDriver : public SerialDriver {
public:
  struct Call {
    std::string function;
    PortHandle handle = 0;
    std::uint32_t count = 0; // bytes asked for (read/write), in-queue size (SetupComm)
    std::string text;        // port name (CreateFileA), bytes (WriteFile)
  };

  // --- script ---
  std::set<std::string> failing;                           // names of calls that report failure
  std::set<std::string> absentPorts;                       // port names that CreateFileA cannot open
  DCB reportedDcb;                                         // what GetCommState hands back
  std::string incoming;                                    // bytes queued by the device
  std::optional<std::uint32_t> reportedQueue;              // cbInQue to report instead of incoming.size()
  std::optional<std::uint32_t> acceptPerWrite;             // WriteFile takes at most this many bytes
  OpenFailure openFailure{OpenFailure::Kind::Missing, {}}; // why a failing CreateFileA failed

  // --- record ---
  std::vector<Call> calls;
  std::string sent;                // every byte WriteFile took, in order
  std::vector<std::string> writes; // what each WriteFile call took
  std::optional<DCB> lastDcb;
  std::optional<COMMTIMEOUTS> lastTimeouts;
  std::optional<std::pair<std::uint32_t, std::uint32_t>> lastQueueSizes;
  std::set<PortHandle> openHandles;

  [[nodiscard]] std::vector<std::string> CallNames() const;
  [[nodiscard]] std::size_t CountOf(const std::string& function) const;
  void ClearRecord();

  PortHandle CreateFileA(std::string_view portName) override;
  OpenFailure LastOpenFailure() const override { return lastOpenFailure_; }
  bool CloseHandle(PortHandle handle) override;
  bool GetCommState(PortHandle handle, DCB& dcb) override;
  bool SetCommState(PortHandle handle, const DCB& dcb) override;
  bool SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) override;
  bool SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) override;
  bool ReadFile(PortHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) override;
  bool WriteFile(PortHandle handle, const void* buffer, std::uint32_t count, std::uint32_t& written) override;
  bool FlushFileBuffers(PortHandle handle) override;

private:
  [[nodiscard]] bool Succeeds(const std::string& function) const { return !failing.contains(function); }
  PortHandle nextHandle_ = 1;
  OpenFailure lastOpenFailure_;
};

} // namespace kv58::testing
