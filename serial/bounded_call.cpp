#include "serial/bounded_call.h"

#include <algorithm>
#include <thread>

#include "common/stop_request.h"

namespace kv58 {

struct BoundedCallPool::State {
  State(std::size_t max, ThreadStarter starter, std::chrono::milliseconds life)
      : maxThreads(std::max<std::size_t>(max, 1)), start(std::move(starter)), idleLife(life) {}

  const std::size_t maxThreads;
  const ThreadStarter start;
  const std::chrono::milliseconds idleLife;
  std::mutex mutex;
  std::condition_variable work; // a call was queued, or the pool closed
  std::deque<std::shared_ptr<Job>> queue;
  std::size_t threads = 0; // started and not yet ended, counting one being started
  std::size_t idle = 0;    // of them, waiting for work
  std::size_t peak = 0;
  bool closed = false;
};

BoundedCallPool::BoundedCallPool(std::size_t maxThreads, ThreadStarter start,
                                 std::chrono::milliseconds idleThreadLife)
    : state_(std::make_shared<State>(maxThreads, std::move(start), idleThreadLife)) {}

BoundedCallPool::~BoundedCallPool() {
  const std::lock_guard lock(state_->mutex);
  state_->closed = true;
  state_->work.notify_all();
}

std::size_t BoundedCallPool::Threads() const {
  const std::lock_guard lock(state_->mutex);
  return state_->threads;
}

std::size_t BoundedCallPool::PeakThreads() const {
  const std::lock_guard lock(state_->mutex);
  return state_->peak;
}

bool BoundedCallPool::StartDetachedThread(std::function<void()> body) noexcept {
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (...) { // std::system_error when the system has no thread to give, std::bad_alloc
    return false;
  }
}

BoundedCallPool::End BoundedCallPool::Wait(const std::shared_ptr<Job>& job,
                                           std::chrono::steady_clock::time_point deadline) {
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  s.queue.push_back(job);
  bool startFailed = false;
  if (s.queue.size() > s.idle && s.threads < s.maxThreads) {
    ++s.threads; // counted before it runs, so that no other caller starts one past the cap
    s.peak = std::max(s.peak, s.threads);
    lock.unlock();
    const bool started = s.start([state = state_] { Serve(state); });
    lock.lock();
    if (!started) {
      --s.threads;
      startFailed = true;
    }
  } else {
    s.work.notify_one();
  }
  End end = End::Done;
  while (!job->done) {
    if (startFailed && s.threads == 0) {
      end = End::NoThread; // nobody will ever take it
      break;
    }
    if (StopRequested()) {
      end = End::Stopped;
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      end = End::TimedOut;
      break;
    }
    (void)job->finished.wait_until(lock, std::min(deadline, now + kStopPollInterval));
  }
  if (job->done) {
    return End::Done;
  }
  job->abandoned = true;
  if (!job->started) {
    std::erase(s.queue, job);
    // Waited in the queue for a thread the system would not start: that, not the deadline.
    return startFailed && end == End::TimedOut ? End::NoThread : end;
  }
  return end;
}

void BoundedCallPool::Serve(const std::shared_ptr<State>& state) {
  State& s = *state;
  std::unique_lock lock(s.mutex);
  for (;;) {
    ++s.idle;
    const bool hasWork = s.work.wait_for(lock, s.idleLife, [&s] { return !s.queue.empty() || s.closed; });
    --s.idle;
    if (!hasWork || s.queue.empty()) {
      break; // idle for long enough, or the pool is gone
    }
    const std::shared_ptr<Job> job = std::move(s.queue.front());
    s.queue.pop_front();
    job->started = true;
    lock.unlock();
    job->Run();
    lock.lock();
    job->done = true;
    if (job->abandoned) {
      lock.unlock();
      job->Discard();
      lock.lock();
    } else {
      job->finished.notify_all();
    }
  }
  --s.threads;
}

BoundedCallPool& NameLookUpPool() {
  // Never destroyed: a thread still in a look-up at the program's end must not outlive it.
  static BoundedCallPool* const pool = new BoundedCallPool(kLookUpThreads);
  return *pool;
}

} // namespace kv58
