#pragma once
// Shared by the protocol tests: a recording driver whose single writes can be made to fail or
// to take only part of their bytes, and a pause that is recorded on the driver's call list
// instead of waiting, so the order of writes and pauses can be read off one sequence.

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/debug_log.h"
#include "protocol/pause.h"
#include "serial/com_socket.h"
#include "serial/testing/fake_serial_driver.h"

namespace kv58::testing {

class ScriptedWriteDriver : public FakeSerialDriver {
public:
  std::set<std::size_t> failingWrites;              // WriteFile calls, counted from 0, that fail
  std::map<std::size_t, std::uint32_t> shortWrites; // WriteFile calls that take only so many bytes

  bool WriteFile(PortHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t& written) override {
    const std::size_t index = writeIndex_++;
    const auto keptFailing = failing;
    const auto keptAccept = acceptPerWrite;
    if (failingWrites.contains(index)) {
      failing.insert("WriteFile");
    }
    if (const auto found = shortWrites.find(index); found != shortWrites.end()) {
      acceptPerWrite = found->second;
    }
    const bool succeeded = FakeSerialDriver::WriteFile(handle, buffer, count, written);
    failing = keptFailing;
    acceptPerWrite = keptAccept;
    return succeeded;
  }

  // A pause that appends a "Pause" call carrying its milliseconds to the record.
  [[nodiscard]] Pause RecordingPause() {
    return [this](std::uint32_t milliseconds) { calls.push_back({"Pause", 0, milliseconds, {}}); };
  }

  // The record as "W<bytes asked>" for each write and "P<ms>" for each pause, in order.
  [[nodiscard]] std::vector<std::string> WritesAndPauses() const {
    std::vector<std::string> events;
    for (const auto& call : calls) {
      if (call.function == "WriteFile") {
        events.push_back("W" + std::to_string(call.count));
      } else if (call.function == "FlushFileBuffers") {
        events.push_back("D"); // a drain
      } else if (call.function == "Pause") {
        events.push_back("P" + std::to_string(call.count));
      }
    }
    return events;
  }

private:
  std::size_t writeIndex_ = 0;
};

// A port opened on a recording driver, with a log of its own; the record starts empty.
template <typename Driver = ScriptedWriteDriver> class OpenPortTest : public ::testing::Test {
protected:
  Driver driver;
  TCOMSocket port{driver};
  DebugLog log;

  void SetUp() override {
    ASSERT_TRUE(port.SetPortName("COM3"));
    ASSERT_TRUE(port.Open());
    driver.ClearRecord();
  }
};

} // namespace kv58::testing
