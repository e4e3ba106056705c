#pragma once
// The user who presses Ctrl+C a while after kv58 started (as SIGINT asks, through the stop
// request), unless kv58 ended first.

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "common/stop_request.h"

namespace kv58::cli::test_support {

class StopAfter {
public:
  explicit StopAfter(std::chrono::milliseconds after)
      : thread_([after](const std::stop_token& ended) {
          std::mutex mutex;
          std::condition_variable_any wake;
          std::unique_lock lock(mutex);
          (void)wake.wait_for(lock, ended, after, [] { return false; });
          if (!ended.stop_requested()) {
            RequestStop(StopLevel::Finish, SIGINT);
          }
        }) {}

private:
  std::jthread thread_; // asked to end, and joined, when kv58 has ended
};

// What `run` (kv58) returns, the user pressing Ctrl+C `after` its start when given; the stop
// request is cleared afterwards.
template <typename Run> auto WithStopAfter(std::optional<std::chrono::milliseconds> after, Run run) {
  std::optional<StopAfter> user;
  if (after) {
    user.emplace(*after);
  }
  auto result = run();
  user.reset();
  ClearStopRequest();
  return result;
}

} // namespace kv58::cli::test_support
