// The API through a real HTTP client, with displays that a fake stands in for: what each
// endpoint answers, each refusal with its status, the token, a newer text replacing one that
// waits, and the order settings are sent in.

#include <condition_variable>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <nlohmann/json.hpp>

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>

#include "common/testing/loopback.h"
#endif
#include "tools/kv58/device_steps.h"
#include "tools/kv58/serve/api_orders.h"
#include "tools/kv58/serve/dispatcher.h"
#include "tools/kv58/serve/event_feed.h"
#include "tools/kv58/serve/http_api.h"

// After the project's headers: on Windows it brings <windows.h>, whose macros would rename
// names in them.
#include <httplib.h>

namespace kv58::serve {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Json = nlohmann::json;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

cli::Display DisplayNamed(const std::string& name, int com, std::vector<std::string> tags) {
  return cli::Display{name, PortName(com), std::move(tags), "ports.txt"};
}

// Displays that take every job at once, or hold each until let go; what each was sent.
class FakeDisplays {
public:
  cli::DisplayResult Send(const cli::Display& display, const cli::Plan& plan) {
    std::unique_lock lock(mutex_);
    std::string sent;
    for (const cli::PlannedStep& step : plan) {
      sent += (sent.empty() ? "" : ", ") + (step.step.kind == cli::Step::Kind::Send
                                                ? "text \"" + step.text + "\""
                                                : cli::DescribeStep(step.step));
    }
    sent_.push_back(display.name + ": " + sent);
    ++started_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !holding_; });
    return cli::DisplayResult{};
  }
  void Hold() { holding_ = true; }
  void LetGo() {
    {
      const std::lock_guard lock(mutex_);
      holding_ = false;
    }
    changed_.notify_all();
  }
  void WaitForStarts(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return started_ >= count; });
  }
  std::vector<std::string> Sent() {
    const std::lock_guard lock(mutex_);
    return sent_;
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> sent_;
  std::size_t started_ = 0;
  bool holding_ = false;
};

class HttpApiTest : public ::testing::Test {
protected:
  HttpApiTest()
      : dispatcher_([this](const cli::Display& display, const cli::Plan& plan,
                           cli::DisplayState&) { return displays_.Send(display, plan); },
                    4,
                    [this](const Finished& finished) {
                      events_.Publish("{\"job\":" + std::to_string(finished.job) + "}");
                    }),
        api_(ApiSetup{dispatcher_,
                      events_,
                      kToken,
                      [this] { return list_; },
                      [] { return std::optional<std::string>("ports.txt, line 2: no port"); },
                      [](std::string_view) { return std::nullopt; },
                      {}}) {
    dispatcher_.SetDisplays(list_);
    EXPECT_FALSE(api_.Bind("127.0.0.1", 0).has_value());
    api_.Start();
    client_ = std::make_unique<httplib::Client>("127.0.0.1", api_.BoundPort());
    client_->set_bearer_token_auth(kToken);
  }
  ~HttpApiTest() override {
    displays_.LetGo();
    dispatcher_.Stop();
    events_.Close();
    api_.Stop();
  }

  httplib::Result Post(const std::string& path, const std::string& body) {
    return client_->Post(path, body, "application/octet-stream");
  }

  std::vector<cli::Display> list_ = {DisplayNamed("hall-1", 1, {"hall"}), DisplayNamed("hall-2", 2, {"hall"}),
                                     DisplayNamed("door", 3, {})};
  FakeDisplays displays_;
  EventFeed events_;
  Dispatcher dispatcher_;
  HttpApi api_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(HttpApiTest, EveryRequestButTheHealthCheckNeedsTheToken) {
  httplib::Client bare("127.0.0.1", api_.BoundPort());
  const auto health = bare.Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  EXPECT_EQ(health->body, "ok\n");
  for (const std::string& authorization :
       std::vector<std::string>{"", "Bearer wrong", std::string("bearer ") + kToken, kToken}) {
    SCOPED_TRACE(authorization);
    httplib::Headers headers;
    if (!authorization.empty()) {
      headers.emplace("Authorization", authorization);
    }
    std::vector<httplib::Result> results;
    results.push_back(bare.Get("/v1/displays", headers));
    results.push_back(bare.Get("/metrics", headers));
    results.push_back(bare.Post("/v1/all/text", headers, "hi", "text/plain"));
    for (const httplib::Result& result : results) {
      ASSERT_TRUE(result);
      EXPECT_EQ(result->status, 401);
      EXPECT_THAT(Json::parse(result->body).at("error").get<std::string>(), HasSubstr("token"));
    }
  }
  EXPECT_TRUE(displays_.Sent().empty());
}

TEST_F(HttpApiTest, RefusalsSayWhyWithTheirStatus) {
  struct Case {
    const char* path;
    std::string body;
    int status;
    const char* why;
  };
  const std::vector<Case> cases = {
      {"/v1/displays/nobody/text", "hi", 404, "no display named \"nobody\""},
      {"/v1/tags/cellar/settings", R"({"speed":4})", 404, "no display carries the tag \"cellar\""},
      {"/v1/displays/door/text", std::string(1984, 'x'), 413, "1984 bytes"},
      {"/v1/displays/door/text", std::string("ab\0cd", 5), 400, "00 byte at offset 2"},
      {"/v1/displays/door/settings", R"({"speed":17})", 400, "speed"},
      {"/v1/displays/door/settings", R"({"speed":"4"})", 400, "field \"speed\" takes a whole number"},
      {"/v1/displays/door/settings", R"({"colour":"red"})", 400, "unknown field \"colour\""},
      {"/v1/displays/door/settings", R"({"first_line":3})", 400, "field \"last_line\" is missing"},
      {"/v1/displays/door/settings", R"({"first_line":9,"last_line":3})", 400, "comes after the last line"},
      {"/v1/displays/door/settings", R"({"scroll":"diagonal"})", 400, "field \"scroll\""},
      {"/v1/displays/door/settings", "{speed:4}", 400, "not JSON"},
      {"/v1/displays/door/settings", "[]", 400, "a JSON object"},
      {"/v1/reload", "", 400, "ports.txt, line 2: no port"},
      {"/v1/displays/door/delete", "", 404, "no such endpoint"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + (" " + c.body.substr(0, 40)));
    const auto result = Post(c.path, c.body);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, c.status);
    EXPECT_THAT(Json::parse(result->body).at("error").get<std::string>(), HasSubstr(c.why));
  }
  const auto noJob = client_->Get("/v1/jobs/999");
  ASSERT_TRUE(noJob);
  EXPECT_EQ(noJob->status, 404);
  EXPECT_TRUE(displays_.Sent().empty());
}

TEST_F(HttpApiTest, ATextToATagIsOneJobWithAResultPerDisplay) {
  const auto accepted = Post("/v1/tags/hall/text?wait=1", "Open 8-18");
  ASSERT_TRUE(accepted);
  ASSERT_EQ(accepted->status, 200) << accepted->body;
  const Json job = Json::parse(accepted->body);
  EXPECT_EQ(job.at("state"), "ended");
  ASSERT_EQ(job.at("results").size(), 2U);
  EXPECT_EQ(job.at("results")[0].at("name"), "hall-1");
  EXPECT_EQ(job.at("results")[1].at("status"), "done");
  EXPECT_THAT(displays_.Sent(),
              ::testing::UnorderedElementsAre("hall-1: text \"Open 8-18\"", "hall-2: text \"Open 8-18\""));

  const auto again = client_->Get("/v1/jobs/" + std::to_string(job.at("job").get<int>()));
  ASSERT_TRUE(again);
  EXPECT_EQ(Json::parse(again->body), job);
  const auto list = client_->Get("/v1/displays");
  ASSERT_TRUE(list);
  const Json displays = Json::parse(list->body);
  ASSERT_EQ(displays.size(), 3U);
  EXPECT_EQ(displays[0].at("tags"), Json::array({"hall"}));
  EXPECT_EQ(displays[0].at("state"), "idle");
  EXPECT_EQ(displays[0].at("last").at("status"), "done");
  EXPECT_TRUE(displays[2].at("last").is_null());
  const auto metrics = client_->Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_THAT(metrics->body, HasSubstr("kv58_jobs_total{display=\"hall-2\",status=\"done\"} 1\n"));
  EXPECT_THAT(metrics->body, HasSubstr("kv58_last_job_succeeded{display=\"hall-1\"} 1\n"));
  EXPECT_THAT(metrics->body, HasSubstr("kv58_last_success_timestamp_seconds{display=\"hall-1\"} 1"));
}

TEST_F(HttpApiTest, SettingsGoInTheDisplaysOrderWhateverTheFieldsOrder) {
  const auto accepted =
      Post("/v1/displays/door/settings?wait=1",
           R"({"reset":true,"store":true,"scroll":"off","last_line":9,"first_line":2,"speed":4})");
  ASSERT_TRUE(accepted);
  ASSERT_EQ(accepted->status, 200) << accepted->body;
  EXPECT_THAT(displays_.Sent(), ElementsAre("door: speed 4, lines 2 to 9, scroll none, store, reset"));
}

TEST_F(HttpApiTest, ANewerTextReplacesOneStillWaitingAndTheDisplayEndsOnTheLast) {
  displays_.Hold();
  const auto first = Post("/v1/displays/door/text", "one");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 202);
  displays_.WaitForStarts(1);
  const auto second = Post("/v1/displays/door/text", "two");
  const auto settings = Post("/v1/displays/door/settings", R"({"speed":5})");
  const auto third = Post("/v1/displays/door/text", "three");
  ASSERT_TRUE(second && settings && third);
  const auto busy = client_->Get("/v1/displays");
  ASSERT_TRUE(busy);
  EXPECT_EQ(Json::parse(busy->body)[2].at("state"), "busy");

  auto follower = std::async(std::launch::async, [this] {
    httplib::Client reader("127.0.0.1", api_.BoundPort());
    reader.set_bearer_token_auth(kToken);
    std::string lines;
    (void)reader.Get("/v1/events?from=0", [&lines](const char* data, std::size_t size) {
      lines.append(data, size);
      return std::count(lines.begin(), lines.end(), '\n') < 3;
    });
    return lines;
  });
  displays_.LetGo();
  ASSERT_TRUE(dispatcher_.WaitForJob(Json::parse(third->body).at("job").get<JobId>(),
                                     std::chrono::steady_clock::now() + std::chrono::seconds(10)));
  const Json replaced = Json::parse(
      client_->Get("/v1/jobs/" + std::to_string(Json::parse(second->body).at("job").get<int>()))->body);
  EXPECT_EQ(replaced.at("results")[0].at("status"), "not-started");
  EXPECT_THAT(replaced.at("results")[0].at("message").get<std::string>(), HasSubstr("replaced by job"));
  EXPECT_THAT(displays_.Sent(), ElementsAre("door: text \"one\"", "door: speed 5", "door: text \"three\""));
  const std::string events = follower.get();
  EXPECT_EQ(std::count(events.begin(), events.end(), '\n'), 3) << events;
}

// A text a lost link left open is the display's state: the display's next job, whatever it
// is, starts from it, as a fleet's next attempt does.
TEST(DispatcherTest, WhatAJobLeavesOnADisplayReachesItsNextJob) {
  std::vector<bool> foundOpen;
  Dispatcher dispatcher(
      [&foundOpen](const cli::Display&, const cli::Plan&, cli::DisplayState& state) {
        foundOpen.push_back(state.openText.has_value());
        state.openText = cli::TextAccount{1, 3, true, 2, false};
        cli::DisplayResult result;
        result.outcome = cli::Outcome::Partial;
        return result;
      },
      2, nullptr);
  dispatcher.SetDisplays({DisplayNamed("door", 3, {})});
  const auto settings = std::get<Order>(SettingsOrder(R"({"speed":4})"));
  for (int job = 0; job < 2; ++job) {
    const auto id = dispatcher.Submit({"door"}, settings);
    ASSERT_TRUE(id &&
                dispatcher.WaitForJob(*id, std::chrono::steady_clock::now() + std::chrono::seconds(10)));
  }
  dispatcher.SetDisplays({DisplayNamed("door", 4, {})}); // another port: another display
  const auto moved = dispatcher.Submit({"door"}, settings);
  ASSERT_TRUE(moved &&
              dispatcher.WaitForJob(*moved, std::chrono::steady_clock::now() + std::chrono::seconds(10)));
  EXPECT_EQ(foundOpen, (std::vector<bool>{false, true, false}));
}

// Jobs ended are kept by their number and by the results they hold: twenty jobs to a fleet of
// 1000 are kept, the twenty-first lets the first go.
TEST(DispatcherTest, EndedJobsAreKeptWithinTheirBound) {
  Dispatcher dispatcher(
      [](const cli::Display&, const cli::Plan&, cli::DisplayState&) { return cli::DisplayResult{}; }, 8,
      nullptr);
  std::vector<cli::Display> fleet;
  std::vector<std::string> names;
  for (int i = 1; i <= 1000; ++i) {
    fleet.push_back(DisplayNamed("d" + std::to_string(i), i, {}));
    names.push_back(fleet.back().name);
  }
  dispatcher.SetDisplays(fleet);
  const auto settings = std::get<Order>(SettingsOrder(R"({"store":true})"));
  std::vector<JobId> jobs;
  for (int job = 0; job < 21; ++job) {
    jobs.push_back(dispatcher.Submit(names, settings).value_or(0));
    ASSERT_TRUE(
        dispatcher.WaitForJob(jobs.back(), std::chrono::steady_clock::now() + std::chrono::seconds(30)));
  }
  EXPECT_FALSE(dispatcher.Job(jobs.front()).has_value());
  EXPECT_TRUE(dispatcher.Job(jobs[1]).has_value());
  EXPECT_EQ(dispatcher.Job(jobs.back())->parts.size(), 1000U);
}

#ifndef _WIN32
// What the server answers a client that writes `request` and then waits: its status line,
// and whether its body is the reload's refusal.
std::string StatusLineFor(int port, const std::string& request) {
  const int socket = kv58::testing::ConnectToLoopback(port);
  const timeval patience{10, 0};
  (void)setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  std::string answer;
  const auto whole = [&answer] {
    const std::size_t headersEnd = answer.find("\r\n\r\n");
    const std::size_t length = answer.find("Content-Length: ");
    return headersEnd != std::string::npos &&
           (length == std::string::npos ||
            answer.size() >= headersEnd + 4 + std::stoul(answer.substr(length + 16)));
  };
  if (send(socket, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    char chunk[4096];
    for (ssize_t got = 0; !whole() && (got = recv(socket, chunk, sizeof chunk, 0)) > 0;) {
      answer.append(chunk, static_cast<std::size_t>(got));
    }
  }
  close(socket);
  return answer.substr(0, answer.find("\r\n")) +
         (answer.find("ports.txt, line 2") != std::string::npos ? " (the reload's answer)" : "");
}

// Clients that break HTTP's rules or crawl: each is answered or cut off within its bounds,
// and none keeps the others from being served.
TEST_F(HttpApiTest, ClientsBreakingTheRulesAreBoundedAndHoldNobodyElse) {
  const std::string auth = std::string("Authorization: Bearer ") + kToken + "\r\n";
  std::vector<int> crawling;
  for (int i = 0; i < 50; ++i) {
    crawling.push_back(kv58::testing::ConnectToLoopback(api_.BoundPort()));
    (void)send(crawling.back(), "GET /v1/displays HTTP/1.1\r\n", 27, MSG_NOSIGNAL);
  }
  std::string chunked =
      "POST /v1/all/text HTTP/1.1\r\nHost: x\r\n" + auth + "Transfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 20; ++i) {
    chunked += "1000\r\n" + std::string(4096, 'x') + "\r\n";
  }
  std::string manyHeaders = "GET /v1/displays HTTP/1.1\r\n" + auth;
  for (int i = 0; i < 100; ++i) {
    manyHeaders += "X-" + std::to_string(i) + ": y\r\n";
  }
  const struct {
    std::string request;
    std::string status;
  } cases[] = {
      {"POST /v1/reload HTTP/1.1\r\nHost: x\r\n" + auth + "\r\n",
       "HTTP/1.1 400 Bad Request (the reload's answer)"},
      {chunked + "0\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {manyHeaders + "\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request.substr(0, 60));
    EXPECT_EQ(StatusLineFor(api_.BoundPort(), c.request), c.status);
  }
  for (const int socket : crawling) {
    close(socket);
  }
  EXPECT_TRUE(displays_.Sent().empty());
}
#endif

} // namespace
} // namespace kv58::serve
