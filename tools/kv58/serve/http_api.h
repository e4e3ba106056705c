#pragma once
// The local HTTP API of `kv58 serve`, version 1, on cpp-httplib: the displays and their last
// jobs, texts and settings for one display, a tag or all, the jobs' results, a stream of
// finished jobs, a reload, metrics and a health check. Every request but the health check
// needs the token. Each connection has a thread of its own, up to a bound, so a slow client
// holds only its own; bodies, headers and waits are bounded too.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/kv58/display.h"
#include "tools/kv58/serve/dispatcher.h"
#include "tools/kv58/serve/event_feed.h"

namespace kv58::serve {

struct ApiLimits {
  std::size_t connections = 256; // served at once; more wait to be accepted
  std::size_t followers = 32;    // of /v1/events at once
  std::size_t bodyBytes = 64 * 1024;
  std::chrono::seconds readTimeout{5};
  std::chrono::seconds writeTimeout{5};
  std::chrono::seconds keepAlive{5};
  std::chrono::seconds longestWait{300}; // of ?wait=1
};

struct ApiSetup {
  Dispatcher& dispatcher;
  EventFeed& events;
  std::string token;
  // The displays served now, with their tags.
  std::function<std::vector<cli::Display>()> displays;
  // Reads the files again; the reason when the new ones were refused (the old ones stay).
  std::function<std::optional<std::string>()> reload;
  // What a templated text would be now, for a check before the job is given; the reason when
  // it cannot be sent.
  std::function<std::optional<std::string>(std::string_view text)> checkTemplate;
  ApiLimits limits;
};

class HttpApi {
public:
  explicit HttpApi(ApiSetup setup);
  ~HttpApi();
  HttpApi(const HttpApi&) = delete;
  HttpApi& operator=(const HttpApi&) = delete;

  // Binds `host`:`port` (0: any free port); the reason when it cannot.
  [[nodiscard]] std::optional<std::string> Bind(const std::string& host, int port);
  [[nodiscard]] int BoundPort() const { return port_; }
  // Serves until Stop(), on a thread of its own.
  void Start();
  void Stop();

private:
  class Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

// Whether `host` is a loopback address: 127.0.0.0/8, ::1, localhost.
[[nodiscard]] bool IsLoopback(const std::string& host);

} // namespace kv58::serve
