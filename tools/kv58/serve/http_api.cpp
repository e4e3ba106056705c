#include "tools/kv58/serve/http_api.h"

#include <atomic>
#include <system_error>
#include <thread>

#include <httplib.h>

#include "tools/common/json_line.h"
#include "tools/common/json_read.h"
#include "tools/kv58/fleet_report.h"
#include "tools/kv58/serve/api_orders.h"
#include "tools/kv58/serve/metrics.h"

namespace kv58::serve {
namespace {

using Json = nlohmann::ordered_json;
using namespace std::chrono_literals;

// How often a follower of /v1/events with nothing to read gets a blank line, by which a
// client gone away is found and its place freed.
constexpr auto kFollowerBeat = 30s;

// A thread for each connection while it lasts, up to a bound: a slow client holds only its
// own, and past the bound new connections wait in the listening socket's queue.
class ConnectionThreads : public httplib::TaskQueue {
public:
  explicit ConnectionThreads(std::size_t limit) : limit_(limit) {}

  void enqueue(std::function<void()> serve) override {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return active_ < limit_; });
    ++active_;
    try {
      std::thread([this, serve] {
        serve();
        const std::lock_guard done(mutex_);
        --active_;
        room_.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      --active_;
      lock.unlock();
      serve(); // no thread to be had: served here, the next connection waits for it
    }
  }

  void shutdown() override {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return active_ == 0; });
  }

private:
  const std::size_t limit_;
  std::mutex mutex_;
  std::condition_variable room_;
  std::size_t active_ = 0;
};

void Reply(httplib::Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(body.dump() + "\n", "application/json");
}

void Error(httplib::Response& res, int status, const std::string& why) {
  Reply(res, status, Json{{"error", JsonText(why, HighBytes::AsText)}});
}

Json ResultJson(const cli::Display& display, const cli::DisplayResult& result) {
  return ParseJson(cli::JsonReportLine(display, result)).value_or(Json::object());
}

Json JobJson(const JobView& job) {
  Json results = Json::array();
  for (const auto& [display, result] : job.parts) {
    if (result) {
      results.push_back(ResultJson(display, *result));
    } else {
      results.push_back(Json{{"name", JsonText(display.name, HighBytes::AsText)},
                             {"port", display.port.Canonical()},
                             {"status", "waiting"}});
    }
  }
  return Json{{"job", job.id},
              {"source", JsonText(job.source, HighBytes::AsText)},
              {"state", job.Ended() ? "ended" : "waiting"},
              {"results", results}};
}

Json DisplayJson(const DisplayView& view) {
  Json tags = Json::array();
  for (const std::string& tag : view.display.tags) {
    tags.push_back(JsonText(tag, HighBytes::AsText));
  }
  return Json{{"name", JsonText(view.display.name, HighBytes::AsText)},
              {"port", view.display.port.Canonical()},
              {"tags", tags},
              {"state", view.busy ? "busy" : "idle"},
              {"last", view.last ? ResultJson(view.last->display, view.last->result) : Json(nullptr)}};
}

bool SameToken(std::string_view given, std::string_view token) {
  unsigned char differ = given.size() == token.size() ? 0 : 1;
  for (std::size_t i = 0; i < given.size(); ++i) {
    differ |= static_cast<unsigned char>(given[i] ^ token[i % (token.empty() ? 1 : token.size())]);
  }
  return differ == 0 && !token.empty();
}

} // namespace

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host == "[::1]" || host.starts_with("127.");
}

class HttpApi::Impl {
public:
  explicit Impl(ApiSetup setup) : s_(std::move(setup)) { Route(); }

  httplib::Server server;
  std::thread thread;

private:
  void Route();
  void Submit(const httplib::Request& req, httplib::Response& res, const std::vector<std::string>& names,
              const std::string& what);
  std::vector<std::string> Tagged(const std::string& tag);
  std::vector<std::string> All();
  void Follow(httplib::Response& res, std::uint64_t from);

  ApiSetup s_;
  std::atomic<std::size_t> followers_{0};
};

void HttpApi::Impl::Route() {
  server.new_task_queue = [limit = s_.limits.connections] { return new ConnectionThreads(limit); };
  server.set_payload_max_length(s_.limits.bodyBytes);
  server.set_read_timeout(s_.limits.readTimeout);
  server.set_write_timeout(s_.limits.writeTimeout);
  server.set_keep_alive_timeout(s_.limits.keepAlive.count());
#ifdef _WIN32
  // On Windows the server looks for a new connection with a time-out, 10 ms by default: an
  // idle service would wake a hundred times a second. Stop() ends the wait however long.
  server.set_idle_interval(std::chrono::hours(1));
#endif
  server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (req.path == "/healthz" || SameToken(req.get_header_value("Authorization"), "Bearer " + s_.token)) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    res.set_header("WWW-Authenticate", "Bearer");
    Error(res, 401,
          req.has_header("Authorization") ? "the token is wrong"
                                          : "a token is needed: Authorization: Bearer TOKEN");
    return httplib::Server::HandlerResponse::Handled;
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) {
      Error(res, res.status,
            res.status == 404 ? "no such endpoint"
                              : std::string(httplib::detail::status_message(res.status)));
    }
  });
  server.Get("/healthz",
             [](const httplib::Request&, httplib::Response& res) { res.set_content("ok\n", "text/plain"); });
  server.Get("/v1/displays", [this](const httplib::Request&, httplib::Response& res) {
    Json list = Json::array();
    for (const DisplayView& view : s_.dispatcher.Displays()) {
      list.push_back(DisplayJson(view));
    }
    Reply(res, 200, list);
  });
  server.Post(R"(/v1/displays/([^/]+)/(text|settings))",
              [this](const httplib::Request& req, httplib::Response& res) {
                const std::string name = req.matches[1];
                if (!s_.dispatcher.DisplayNamed(name)) {
                  return Error(res, 404, "no display named \"" + name + "\"");
                }
                Submit(req, res, {name}, req.matches[2]);
              });
  server.Post(
      R"(/v1/tags/([^/]+)/(text|settings))", [this](const httplib::Request& req, httplib::Response& res) {
        const std::vector<std::string> names = Tagged(req.matches[1]);
        if (names.empty()) {
          return Error(res, 404, "no display carries the tag \"" + std::string(req.matches[1]) + "\"");
        }
        Submit(req, res, names, req.matches[2]);
      });
  server.Post(R"(/v1/all/(text|settings))", [this](const httplib::Request& req, httplib::Response& res) {
    const std::vector<std::string> names = All();
    if (names.empty()) {
      return Error(res, 404, "no display is served");
    }
    Submit(req, res, names, req.matches[1]);
  });
  server.Get(R"(/v1/jobs/(\d{1,18}))", [this](const httplib::Request& req, httplib::Response& res) {
    const auto job = s_.dispatcher.Job(std::stoull(req.matches[1]));
    if (!job) {
      return Error(res, 404, "no job " + std::string(req.matches[1]) + " is kept");
    }
    Reply(res, 200, JobJson(*job));
  });
  server.Get("/v1/events", [this](const httplib::Request& req, httplib::Response& res) {
    const std::string from = req.get_param_value("from");
    if (!from.empty() && (from.size() > 18 || from.find_first_not_of("0123456789") != std::string::npos)) {
      return Error(res, 400, "from takes the number of the first line wanted");
    }
    Follow(res, from.empty() ? s_.events.End() : std::stoull(from));
  });
  server.Post("/v1/reload", [this](const httplib::Request&, httplib::Response& res) {
    if (const auto refused = s_.reload()) {
      return Error(res, 400, *refused);
    }
    Reply(res, 200, Json{{"reloaded", true}, {"displays", s_.displays().size()}});
  });
  server.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(MetricsText(s_.dispatcher.Displays()), "text/plain; version=0.0.4");
  });
}

std::vector<std::string> HttpApi::Impl::Tagged(const std::string& tag) {
  std::vector<std::string> names;
  for (const cli::Display& display : s_.displays()) {
    if (std::find(display.tags.begin(), display.tags.end(), tag) != display.tags.end()) {
      names.push_back(display.name);
    }
  }
  return names;
}

std::vector<std::string> HttpApi::Impl::All() {
  std::vector<std::string> names;
  for (const cli::Display& display : s_.displays()) {
    names.push_back(display.name);
  }
  return names;
}

void HttpApi::Impl::Submit(const httplib::Request& req, httplib::Response& res,
                           const std::vector<std::string>& names, const std::string& what) {
  const bool templated = req.get_param_value("template") == "1";
  auto order = what == "text" ? TextOrder(req.body, templated) : SettingsOrder(req.body);
  if (const auto* refusal = std::get_if<Refusal>(&order)) {
    return Error(res, refusal->status, refusal->error);
  }
  if (templated && what == "text") {
    if (const auto refused = s_.checkTemplate(req.body)) {
      return Error(res, 413, *refused);
    }
  }
  const auto job = s_.dispatcher.Submit(names, std::get<Order>(std::move(order)));
  if (!job) {
    return Error(res, 503,
                 "a display has too many jobs waiting, or was taken out of the ports file; try again");
  }
  if (req.get_param_value("wait") == "1" &&
      s_.dispatcher.WaitForJob(*job, std::chrono::steady_clock::now() + s_.limits.longestWait)) {
    if (const auto view = s_.dispatcher.Job(*job)) {
      return Reply(res, 200, JobJson(*view));
    }
  }
  Reply(res, 202, Json{{"job", *job}});
}

void HttpApi::Impl::Follow(httplib::Response& res, std::uint64_t from) {
  if (++followers_ > s_.limits.followers) {
    --followers_;
    return Error(res, 503, "too many followers of /v1/events at once");
  }
  auto next = std::make_shared<std::uint64_t>(from);
  res.set_chunked_content_provider(
      "application/x-ndjson",
      [this, next](std::size_t, httplib::DataSink& sink) {
        const EventFeed::Batch batch =
            s_.events.WaitFrom(*next, std::chrono::steady_clock::now() + kFollowerBeat);
        *next = batch.next;
        std::string text;
        if (batch.missed > 0) {
          text += Json{{"missed", batch.missed}}.dump() + "\n";
        }
        for (const std::string& line : batch.lines) {
          text += line + "\n";
        }
        if (text.empty() && !batch.closed) {
          text = "\n";
        }
        if (!text.empty() && !sink.write(text.data(), text.size())) {
          return false;
        }
        if (batch.closed) {
          sink.done();
        }
        return true;
      },
      [this](bool) { --followers_; });
}

HttpApi::HttpApi(ApiSetup setup) : impl_(std::make_unique<Impl>(std::move(setup))) {}

HttpApi::~HttpApi() { Stop(); }

std::optional<std::string> HttpApi::Bind(const std::string& host, int port) {
  const std::string bare =
      host.starts_with('[') && host.ends_with(']') ? host.substr(1, host.size() - 2) : host;
  if (port == 0) {
    port_ = impl_->server.bind_to_any_port(bare);
  } else if (impl_->server.bind_to_port(bare, port)) {
    port_ = port;
  } else {
    port_ = -1;
  }
  if (port_ <= 0) {
    return "cannot listen on " + host + ":" + std::to_string(port) +
           ": the address is not this machine's, or another program has the port";
  }
  return std::nullopt;
}

void HttpApi::Start() {
  impl_->thread = std::thread([this] { (void)impl_->server.listen_after_bind(); });
}

void HttpApi::Stop() {
  if (impl_->thread.joinable()) {
    impl_->server.stop();
    impl_->thread.join();
  }
}

} // namespace kv58::serve
