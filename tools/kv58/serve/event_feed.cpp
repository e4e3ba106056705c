#include "tools/kv58/serve/event_feed.h"

namespace kv58::serve {

void EventFeed::Publish(std::string line) {
  {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
    if (lines_.size() > kKept) {
      lines_.pop_front();
      ++first_;
    }
  }
  published_.notify_all();
}

void EventFeed::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  published_.notify_all();
}

std::uint64_t EventFeed::End() {
  std::lock_guard lock(mutex_);
  return first_ + lines_.size();
}

EventFeed::Batch EventFeed::WaitFrom(std::uint64_t from, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  published_.wait_until(lock, deadline, [&] { return closed_ || first_ + lines_.size() > from; });
  Batch batch;
  batch.closed = closed_;
  if (from < first_) {
    batch.missed = first_ - from;
    from = first_;
  }
  for (std::uint64_t n = from; n < first_ + lines_.size(); ++n) {
    batch.lines.push_back(lines_[n - first_]);
  }
  batch.next = first_ + lines_.size();
  return batch;
}

} // namespace kv58::serve
