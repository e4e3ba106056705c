#pragma once
// The window's one thread for its serial driver. Each device step (a frame, a page and its
// drain, an open with its settings, a close, a receive tick) is one call handed to that
// thread, so the bytes of a step leave back to back, whatever the calling thread is doing;
// meanwhile the calling thread does what `whileWaiting` does, every 10 ms or so (the window
// takes its events: a device server may take seconds, and Windows marks a window that answers
// nothing for 5 s as "Not Responding"). A step hands work that belongs to the calling thread
// (a pause, a log line, the progress) back to it with OnCaller and waits for it. One step at a
// time: a step asked for while another runs (the receive timer, from inside `whileWaiting`)
// is refused.

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kv58 {

class DriverThread {
public:
  // Starts a thread that runs `body`; throws std::system_error when the system gives none.
  using Starter = std::function<std::thread(std::function<void()> body)>;
  enum class Outcome {
    Done,     // the step ran; what it threw has been thrown on
    Busy,     // another step is running: this one did not run
    NoThread, // the thread could not be started (StartFailure says why): the step did not run
  };

  explicit DriverThread(std::function<void()> whileWaiting, Starter start = StartSystemThread);
  ~DriverThread();
  DriverThread(const DriverThread&) = delete;
  DriverThread& operator=(const DriverThread&) = delete;

  // Runs `step` on the thread, started on first use and again after a start that failed, and
  // returns when it has ended. Called from one thread only, the caller's.
  [[nodiscard]] Outcome Run(const std::function<void()>& step);
  // The system's words for the last start that failed.
  [[nodiscard]] const std::string& StartFailure() const { return startFailure_; }

  // From inside a step: runs `work` on the caller's thread, between two turns of its wait,
  // and returns when it has ended, throwing on what it threw. Anywhere else: runs it at once.
  void OnCaller(const std::function<void()>& work);

  static std::thread StartSystemThread(std::function<void()> body) { return std::thread(std::move(body)); }

private:
  void Serve();

  std::function<void()> whileWaiting_;
  Starter start_;
  std::thread thread_;
  std::string startFailure_;
  bool running_ = false; // the caller's own view: a step is on its way

  std::mutex mutex_;
  std::condition_variable changed_;
  const std::function<void()>* step_ = nullptr; // handed to the thread, not yet taken
  bool stepDone_ = false;
  std::exception_ptr stepError_;
  const std::function<void()>* work_ = nullptr; // handed back to the caller, not yet done
  bool workDone_ = false;
  std::exception_ptr workError_;
  bool ending_ = false;
};

} // namespace kv58
