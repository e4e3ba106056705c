#include "tools/kv58/serve/dispatcher.h"

#include <algorithm>
#include <system_error>
#include <thread>

namespace kv58::serve {

struct Dispatcher::Waiting {
  JobId job = 0;
  std::size_t part = 0; // the display's place among the job's
  Order order;
};

struct Dispatcher::Record {
  explicit Record(cli::Display shown) : display(std::move(shown)) {}
  cli::Display display;
  cli::DisplayState state; // touched only by the job being sent
  std::deque<Waiting> waiting;
  bool busy = false;
  bool removed = false;
  std::optional<Finished> last;
  std::map<std::string, std::uint64_t> jobsByStatus;
  std::optional<std::chrono::system_clock::time_point> lastSuccess;
};

struct Dispatcher::JobRecord {
  std::string source;
  std::vector<std::pair<cli::Display, std::optional<cli::DisplayResult>>> parts;
  std::size_t open = 0;
};

bool JobView::Ended() const {
  return std::all_of(parts.begin(), parts.end(), [](const auto& part) { return part.second.has_value(); });
}

namespace {

cli::DisplayResult Unsent(const std::string& why) {
  cli::DisplayResult result;
  result.outcome = cli::Outcome::NotStarted;
  result.message = why;
  result.attempts = 0;
  return result;
}

bool SamePort(const cli::Display& a, const cli::Display& b) { return a.port.FullName() == b.port.FullName(); }

} // namespace

Dispatcher::Dispatcher(Runner runner, std::size_t displaysAtOnce, Listener onFinished)
    : runner_(std::move(runner)), displaysAtOnce_(std::max<std::size_t>(displaysAtOnce, 1)),
      onFinished_(std::move(onFinished)) {}

Dispatcher::~Dispatcher() { Stop(); }

DisplayView Dispatcher::ViewOf(const Record& record) {
  return DisplayView{record.display, record.busy || !record.waiting.empty(), record.last, record.jobsByStatus,
                     record.lastSuccess};
}

bool Dispatcher::SendsText(const cli::Plan& plan) {
  return std::any_of(plan.begin(), plan.end(),
                     [](const cli::PlannedStep& step) { return step.step.kind == cli::Step::Kind::Send; });
}

bool Dispatcher::SendsOnlyText(const cli::Plan& plan) {
  return !plan.empty() && std::all_of(plan.begin(), plan.end(), [](const cli::PlannedStep& step) {
    return step.step.kind == cli::Step::Kind::Send;
  });
}

void Dispatcher::SetDisplays(const std::vector<cli::Display>& displays) {
  std::vector<Finished> ended;
  {
    std::lock_guard lock(mutex_);
    std::map<std::string, std::shared_ptr<Record>> kept;
    order_.clear();
    for (const cli::Display& display : displays) {
      order_.push_back(display.name);
      const auto found = displays_.find(display.name);
      if (found != displays_.end() && SamePort(found->second->display, display)) {
        found->second->display = display;
        kept[display.name] = found->second;
        continue;
      }
      kept[display.name] = std::make_shared<Record>(display);
    }
    for (auto& [name, record] : displays_) {
      if (!kept.contains(name) || kept[name] != record) {
        record->removed = true;
        EndUnsent(*record, "the display was taken out of the ports file before this job began");
      }
    }
    displays_ = std::move(kept);
  }
  changed_.notify_all();
}

std::optional<JobId> Dispatcher::Submit(const std::vector<std::string>& names, Order order) {
  {
    std::unique_lock lock(mutex_);
    for (const std::string& name : names) {
      const auto found = displays_.find(name);
      if (found == displays_.end() || found->second->waiting.size() >= kMaxWaitingPerDisplay) {
        return std::nullopt;
      }
    }
    const JobId id = nextJob_++;
    auto job = std::make_shared<JobRecord>();
    job->source = order.source;
    job->open = names.size();
    jobs_[id] = job;
    partsKept_ += names.size();
    while ((jobs_.size() > kJobsKept || partsKept_ > kPartsKept) && jobs_.begin()->first != id &&
           jobs_.begin()->second->open == 0) {
      partsKept_ -= jobs_.begin()->second->parts.size();
      jobs_.erase(jobs_.begin());
    }
    for (std::size_t part = 0; part < names.size(); ++part) {
      Record& record = *displays_[names[part]];
      job->parts.emplace_back(record.display, std::nullopt);
      // A newer text replaces a text still waiting: the display ends on the last one asked for.
      if (SendsText(order.plan)) {
        for (auto it = record.waiting.begin(); it != record.waiting.end();) {
          if (SendsOnlyText(it->order.plan)) {
            const Waiting replaced = std::move(*it);
            it = record.waiting.erase(it);
            auto& replacedJob = *jobs_[replaced.job];
            replacedJob.parts[replaced.part].second =
                Unsent("replaced by job " + std::to_string(id) + " before it began");
            --replacedJob.open;
          } else {
            ++it;
          }
        }
      }
      record.waiting.push_back(Waiting{id, part, order});
      if (!record.busy && record.waiting.size() == 1) {
        ready_.push_back(displays_[names[part]]);
      }
    }
    StartWorkerIfNeeded();
    changed_.notify_all();
    return id;
  }
}

void Dispatcher::StartWorkerIfNeeded() {
  while (!stopping_ && workers_ < displaysAtOnce_ && workers_ < ready_.size()) {
    try {
      std::thread([this] { Work(); }).detach();
      ++workers_;
    } catch (const std::system_error&) {
      return; // the workers running take what waits
    }
  }
}

void Dispatcher::Work() {
  std::unique_lock lock(mutex_);
  while (!stopping_ && !ready_.empty()) {
    const std::shared_ptr<Record> record = ready_.front();
    ready_.pop_front();
    if (record->removed || record->waiting.empty()) {
      continue;
    }
    Waiting next = std::move(record->waiting.front());
    record->waiting.pop_front();
    record->busy = true;
    const cli::Display display = record->display;
    lock.unlock();
    cli::DisplayResult result = runner_(display, next.order.plan, record->state);
    record->state.earlier.clear(); // told in this job's result
    lock.lock();
    record->busy = false;
    Finish(*record, next.job, next.part, std::move(result), next.order.source);
    if (!record->waiting.empty() && !record->removed) {
      ready_.push_back(record);
    }
  }
  --workers_;
  changed_.notify_all();
  lock.unlock(); // the last thing this thread does: Stop() may end the dispatcher now
}

void Dispatcher::Finish(Record& record, JobId job, std::size_t part, cli::DisplayResult result,
                        const std::string& source) {
  Finished finished{job, record.display, result, source, std::chrono::system_clock::now()};
  record.jobsByStatus[std::string(cli::OutcomeWord(result.outcome))]++;
  if (result.outcome == cli::Outcome::Done) {
    record.lastSuccess = finished.at;
  }
  record.last = finished;
  if (const auto found = jobs_.find(job); found != jobs_.end()) {
    found->second->parts[part].second = std::move(result);
    --found->second->open;
  }
  changed_.notify_all();
  if (onFinished_) {
    onFinished_(finished); // under the lock: lines of the log stay whole and in order
  }
}

void Dispatcher::EndUnsent(Record& record, const std::string& why) {
  for (Waiting& waiting : record.waiting) {
    if (const auto found = jobs_.find(waiting.job); found != jobs_.end()) {
      found->second->parts[waiting.part].second = Unsent(why);
      --found->second->open;
    }
  }
  record.waiting.clear();
}

std::optional<JobView> Dispatcher::Job(JobId id) const {
  std::lock_guard lock(mutex_);
  const auto found = jobs_.find(id);
  if (found == jobs_.end()) {
    return std::nullopt;
  }
  return JobView{id, found->second->source, found->second->parts};
}

bool Dispatcher::WaitForJob(JobId id, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [&] {
    const auto found = jobs_.find(id);
    return found == jobs_.end() || found->second->open == 0;
  });
}

std::vector<DisplayView> Dispatcher::Displays() const {
  std::lock_guard lock(mutex_);
  std::vector<DisplayView> views;
  for (const std::string& name : order_) {
    views.push_back(ViewOf(*displays_.at(name)));
  }
  return views;
}

std::optional<DisplayView> Dispatcher::DisplayNamed(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto found = displays_.find(name);
  if (found == displays_.end()) {
    return std::nullopt;
  }
  return ViewOf(*found->second);
}

void Dispatcher::Stop() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  for (auto& [name, record] : displays_) {
    EndUnsent(*record, "the service stopped before this job began");
  }
  ready_.clear();
  changed_.notify_all();
  changed_.wait(lock, [this] { return workers_ == 0; });
}

} // namespace kv58::serve
