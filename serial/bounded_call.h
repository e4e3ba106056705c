#pragma once
// A system call that has no time-out of its own (a name look-up), bounded all the same: it runs
// on a thread of its own while the caller waits until a deadline, which a request of the user's
// to stop brings forward. A call that outlives the wait runs on to its end unwatched, and what
// it returns then is handed to `discard`.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "common/stop_request.h"

namespace kv58 {

template <typename T>
[[nodiscard]] std::optional<T> CallWithin(std::function<T()> work, std::function<void(T&)> discard,
                                          std::chrono::steady_clock::time_point deadline) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<T> result;
    bool abandoned = false;
  };
  const auto shared = std::make_shared<Shared>();
  std::thread([shared, work = std::move(work), discard = std::move(discard)] {
    T result = work();
    const std::lock_guard lock(shared->mutex);
    if (shared->abandoned) {
      discard(result);
      return;
    }
    shared->result = std::move(result);
    shared->done.notify_all();
  }).detach();
  std::unique_lock lock(shared->mutex);
  while (!shared->result && std::chrono::steady_clock::now() < StopBoundDeadline(deadline)) {
    (void)shared->done.wait_until(lock, NextWaitSlice(deadline));
  }
  if (!shared->result) {
    shared->abandoned = true;
  }
  return std::move(shared->result);
}

} // namespace kv58
