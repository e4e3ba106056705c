#pragma once
// The displays of a running `kv58 serve` and the jobs given to them: one job at a time per
// display, displays in parallel up to a limit, a newer text replacing one still waiting for
// the same display, and what each display carries from one job to the next (a text a lost
// link left open is ended before anything else). Jobs come from the API and the schedule
// alike; each ends with a DisplayResult per display, as kv58's report tells it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/kv58/display.h"
#include "tools/kv58/display_result.h"
#include "tools/kv58/step_runner.h"

namespace kv58::serve {

using JobId = std::uint64_t;

// What one job sends: the steps with their texts, a templated text filled in when sent.
struct Order {
  cli::Plan plan;
  std::string source; // "api", "schedule.txt, line 4", ...: for the log
};

// One display's part of a job, once it has ended.
struct Finished {
  JobId job = 0;
  cli::Display display{"", PortName(1), {}, ""};
  cli::DisplayResult result;
  std::string source;
  std::chrono::system_clock::time_point at;
};

// What a display holds for the API and the metrics.
struct DisplayView {
  cli::Display display;
  bool busy = false;
  std::optional<Finished> last;
  std::map<std::string, std::uint64_t> jobsByStatus; // by the report's status word
  std::optional<std::chrono::system_clock::time_point> lastSuccess;
};

struct JobView {
  JobId id = 0;
  std::string source;
  // In the order the job named its displays; no result while waiting or being sent.
  std::vector<std::pair<cli::Display, std::optional<cli::DisplayResult>>> parts;
  [[nodiscard]] bool Ended() const;
};

class Dispatcher {
public:
  // Sends an order to a display: one attempt with its retries, `state` carried between jobs.
  using Runner = std::function<cli::DisplayResult(const cli::Display& display, const cli::Plan& plan,
                                                  cli::DisplayState& state)>;
  using Listener = std::function<void(const Finished& finished)>;

  // Ended jobs are kept for GET /v1/jobs while there are at most this many, with at most
  // kPartsKept displays' results among them (twenty jobs to all of a fleet of 1000).
  static constexpr std::size_t kJobsKept = 1000;
  static constexpr std::size_t kPartsKept = 20000;
  static constexpr std::size_t kMaxWaitingPerDisplay = 32;

  Dispatcher(Runner runner, std::size_t displaysAtOnce, Listener onFinished);
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // The displays served from now on, by name: a display that keeps its name and port keeps
  // what it carries and what it has done; one no longer named gets no more jobs (what waits
  // for it ends as not started).
  void SetDisplays(const std::vector<cli::Display>& displays);

  // A job for the displays named; none when a display has too many jobs waiting already.
  [[nodiscard]] std::optional<JobId> Submit(const std::vector<std::string>& names, Order order);

  [[nodiscard]] std::optional<JobView> Job(JobId id) const;
  // Waits until the job has ended, or until `deadline`; whether it has ended.
  bool WaitForJob(JobId id, std::chrono::steady_clock::time_point deadline);
  [[nodiscard]] std::vector<DisplayView> Displays() const;
  [[nodiscard]] std::optional<DisplayView> DisplayNamed(const std::string& name) const;

  // No job starts from now on; what waits ends as not started; returns when every display's
  // job being sent has ended.
  void Stop();

private:
  struct Waiting;
  struct Record;
  struct JobRecord;

  void StartWorkerIfNeeded();
  void Work();
  void Finish(Record& record, JobId job, std::size_t part, cli::DisplayResult result,
              const std::string& source);
  void EndUnsent(Record& record, const std::string& why);
  static DisplayView ViewOf(const Record& record);
  static bool SendsOnlyText(const cli::Plan& plan);
  static bool SendsText(const cli::Plan& plan);

  Runner runner_;
  std::size_t displaysAtOnce_;
  Listener onFinished_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, std::shared_ptr<Record>> displays_;
  std::vector<std::string> order_; // the names in the ports file's order
  std::deque<std::shared_ptr<Record>> ready_;
  std::map<JobId, std::shared_ptr<JobRecord>> jobs_;
  JobId nextJob_ = 1;
  std::size_t partsKept_ = 0; // of every job in jobs_
  std::size_t workers_ = 0;
  bool stopping_ = false;
};

} // namespace kv58::serve
