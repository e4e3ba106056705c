#pragma once
// What reaches a running `kv58 serve` from outside its API: a request to stop (Ctrl+C, SIGTERM,
// the Windows service manager) and a request to read its files again (SIGHUP). Whoever waits
// sleeps until one comes: nothing here wakes on a timer.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kv58::serve {

class ServeControl {
public:
  enum class Event { None, Reload, Stop, Wake };

  void RequestStop() { Raise(Event::Stop); }
  void RequestReload() { Raise(Event::Reload); }
  // Something the waiter should look at now (a display failed or came back).
  void Wake() { Raise(Event::Wake); }

  // The next request, waiting for one until `deadline`; None when the deadline came first.
  // A stop is kept once seen, so every later call returns it at once.
  template <typename Clock, typename Duration>
  [[nodiscard]] Event WaitUntil(std::chrono::time_point<Clock, Duration> deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [this] { return stop_ || reload_ || wake_; });
    return TakeLocked();
  }
  [[nodiscard]] Event Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stop_ || reload_ || wake_; });
    return TakeLocked();
  }
  [[nodiscard]] bool Stopping() {
    const std::lock_guard lock(mutex_);
    return stop_;
  }

private:
  void Raise(Event event) {
    {
      const std::lock_guard lock(mutex_);
      (event == Event::Stop ? stop_ : event == Event::Reload ? reload_ : wake_) = true;
    }
    changed_.notify_all();
  }
  Event TakeLocked() {
    if (stop_) {
      return Event::Stop;
    }
    if (reload_) {
      reload_ = false;
      return Event::Reload;
    }
    if (wake_) {
      wake_ = false;
      return Event::Wake;
    }
    return Event::None;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  bool reload_ = false;
  bool wake_ = false;
};

} // namespace kv58::serve
