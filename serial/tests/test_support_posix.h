#pragma once
// What the POSIX serial tests stand on instead of real devices: pseudo-terminals whose far
// end the test holds. Port maps and device roots go in common/testing's scratch folders.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace kv58::testing {

// A pseudo-terminal pair. The test holds the master ("the device"); the code under test
// opens the slave by its path.
class PseudoTerminal {
public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  [[nodiscard]] const std::filesystem::path& SlavePath() const { return slavePath_; }
  // Bytes the device sends to the port.
  void Send(std::string_view bytes) const;
  // Bytes the port sent, read until `count` have come or none has come for a long while.
  [[nodiscard]] std::string Receive(std::size_t count) const;
  // The device goes away: the master is closed and the slave hangs up.
  void HangUp();

private:
  int master_ = -1;
  std::filesystem::path slavePath_;
};

// Polls `condition` until it holds; false when it has not held for a long while. Only for
// waiting on the kernel's buffers, never to measure time.
[[nodiscard]] bool Eventually(const std::function<bool()>& condition);

} // namespace kv58::testing
