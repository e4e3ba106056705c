#include "serial/driver_thread.h"

#include <chrono>
#include <system_error>
#include <utility>

namespace kv58 {
namespace {

using namespace std::chrono_literals;

// How long the caller waits on a step between two turns of `whileWaiting`: well under the
// 100 ms in which a window should answer.
constexpr auto kWaitSlice = 10ms;

// The DriverThread whose thread this is, if any: work it hands back goes to its caller.
thread_local const DriverThread* tServing = nullptr;

// Runs `call`; what it threw, to be thrown on the thread that waits for it.
std::exception_ptr Captured(const std::function<void()>& call) {
  try {
    call();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

} // namespace

DriverThread::DriverThread(std::function<void()> whileWaiting, Starter start)
    : whileWaiting_(std::move(whileWaiting)), start_(std::move(start)) {}

DriverThread::~DriverThread() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
}

DriverThread::Outcome DriverThread::Run(const std::function<void()>& step) {
  if (running_) {
    return Outcome::Busy;
  }
  if (!thread_.joinable()) {
    try {
      thread_ = start_([this] { Serve(); });
    } catch (const std::system_error& error) {
      startFailure_ = error.what();
      return Outcome::NoThread;
    }
  }
  running_ = true;
  std::unique_lock lock(mutex_);
  step_ = &step;
  stepDone_ = false;
  changed_.notify_all();

  std::exception_ptr waitError;
  while (!stepDone_) {
    if (work_ != nullptr && !workDone_) {
      const auto* work = work_;
      lock.unlock();
      const std::exception_ptr error = Captured(*work);
      lock.lock();
      workError_ = error;
      workDone_ = true;
      changed_.notify_all();
      continue;
    }
    if (!changed_.wait_for(lock, kWaitSlice,
                           [this] { return stepDone_ || (work_ != nullptr && !workDone_); })) {
      lock.unlock();
      // The step goes on using what it was handed: nothing leaves here before it has ended.
      if (std::exception_ptr error = Captured(whileWaiting_)) {
        waitError = error;
      }
      lock.lock();
    }
  }
  running_ = false;
  const std::exception_ptr stepError = std::exchange(stepError_, nullptr);
  lock.unlock();
  if (waitError) {
    std::rethrow_exception(waitError);
  }
  if (stepError) {
    std::rethrow_exception(stepError);
  }
  return Outcome::Done;
}

void DriverThread::OnCaller(const std::function<void()>& work) {
  if (tServing != this) {
    work();
    return;
  }
  std::unique_lock lock(mutex_);
  work_ = &work;
  workDone_ = false;
  changed_.notify_all();
  changed_.wait(lock, [this] { return workDone_; });
  work_ = nullptr;
  const std::exception_ptr error = std::exchange(workError_, nullptr);
  lock.unlock();
  if (error) {
    std::rethrow_exception(error);
  }
}

void DriverThread::Serve() {
  tServing = this;
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return step_ != nullptr || ending_; });
    if (step_ == nullptr) {
      return; // ending, with no step left
    }
    const auto* step = std::exchange(step_, nullptr);
    lock.unlock();
    const std::exception_ptr error = Captured(*step);
    lock.lock();
    stepError_ = error;
    stepDone_ = true;
    changed_.notify_all();
  }
}

} // namespace kv58
