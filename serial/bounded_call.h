#pragma once
// Calls that have no time-out of their own (a name look-up), bounded all the same, on a pool
// with a cap on its threads. A call waits in the pool's queue until a thread is free, and its
// caller waits until a deadline or the user's request to stop, whichever comes first. A call
// whose caller has given up is dropped if it has not started; one that has started runs on to
// its end unwatched, and what it returns then is handed to `discard`. Threads start when calls
// wait and none is free, and end after a while without work.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace kv58 {

class BoundedCallPool {
public:
  // Starts a thread that runs `body` and is never joined; false when the system would not
  // start one. Must not throw.
  using ThreadStarter = std::function<bool(std::function<void()> body)>;
  static constexpr std::chrono::milliseconds kIdleThreadLife{10'000};

  enum class End {
    Done,     // the call ended in time: its value
    TimedOut, // the deadline came first, the call queued or running
    Stopped,  // a request of the user's to stop came first
    NoThread, // no thread was free and the system would not start one
  };
  template <typename T> struct Outcome {
    End end = End::TimedOut;
    std::optional<T> value; // with Done
  };

  explicit BoundedCallPool(std::size_t maxThreads, ThreadStarter start = StartDetachedThread,
                           std::chrono::milliseconds idleThreadLife = kIdleThreadLife);
  // Threads still busy with abandoned calls end on their own once those end.
  ~BoundedCallPool();
  BoundedCallPool(const BoundedCallPool&) = delete;
  BoundedCallPool& operator=(const BoundedCallPool&) = delete;

  // Runs `work` on one of the pool's threads and waits for it until `deadline`. Any request to
  // stop ends the wait at once: the calls this serves are steps of opening a port, before any
  // byte of the display's has been sent. `work` must not throw.
  template <typename T>
  [[nodiscard]] Outcome<T> Call(std::function<T()> work, std::function<void(T&)> discard,
                                std::chrono::steady_clock::time_point deadline) {
    const auto job = std::make_shared<TypedJob<T>>(std::move(work), std::move(discard));
    Outcome<T> outcome;
    outcome.end = Wait(job, deadline);
    if (outcome.end == End::Done) {
      outcome.value = std::move(job->result);
    }
    return outcome;
  }

  // Threads now, and the most there have been at once.
  [[nodiscard]] std::size_t Threads() const;
  [[nodiscard]] std::size_t PeakThreads() const;

  // The default starter: a detached std::thread; false where its constructor throws.
  static bool StartDetachedThread(std::function<void()> body) noexcept;

private:
  struct Job {
    virtual ~Job() = default;
    virtual void Run() noexcept = 0;     // the work, off the pool's lock
    virtual void Discard() noexcept = 0; // a late result nobody waits for
    std::condition_variable finished;
    bool started = false;
    bool done = false;
    bool abandoned = false;
  };
  template <typename T> struct TypedJob final : Job {
    TypedJob(std::function<T()> w, std::function<void(T&)> d) : work(std::move(w)), discard(std::move(d)) {}
    void Run() noexcept override { result = work(); }
    void Discard() noexcept override {
      if (result) {
        discard(*result);
      }
    }
    std::function<T()> work;
    std::function<void(T&)> discard;
    std::optional<T> result;
  };
  struct State;

  [[nodiscard]] End Wait(const std::shared_ptr<Job>& job, std::chrono::steady_clock::time_point deadline);
  static void Serve(const std::shared_ptr<State>& state);

  std::shared_ptr<State> state_;
};

// The process's pool for name look-ups: at most kLookUpThreads threads, whatever the number
// of displays.
inline constexpr std::size_t kLookUpThreads = 24;
[[nodiscard]] BoundedCallPool& NameLookUpPool();

} // namespace kv58
