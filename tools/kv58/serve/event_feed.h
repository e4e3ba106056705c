#pragma once
// The lines of finished jobs, for whoever follows them (GET /v1/events): the latest few are
// kept, each with its number, so a follower that fell behind learns how many it missed instead
// of holding the service's memory.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace kv58::serve {

class EventFeed {
public:
  static constexpr std::size_t kKept = 1024;

  void Publish(std::string line);
  // Ends every wait: the service is stopping.
  void Close();

  struct Batch {
    std::vector<std::string> lines;
    std::uint64_t next = 0;   // where the follower goes on from
    std::uint64_t missed = 0; // lines no longer kept when it asked
    bool closed = false;
  };
  // The lines from number `from` on, waiting until there is one or until `deadline`.
  [[nodiscard]] Batch WaitFrom(std::uint64_t from, std::chrono::steady_clock::time_point deadline);
  // The number the next line will have: a new follower starts there.
  [[nodiscard]] std::uint64_t End();

private:
  std::mutex mutex_;
  std::condition_variable published_;
  std::deque<std::string> lines_;
  std::uint64_t first_ = 0; // the number of lines_.front()
  bool closed_ = false;
};

} // namespace kv58::serve
