// The real `kv58 serve` with a real HTTP client, in front of two displays that the simulator
// stands in for (kv58-sim --listen): what reaches each display at start (the schedule's entry
// due today, its template filled in), from the API, at the next minute on the wall clock, after
// a reload; the log's lines; and a stop that ends it with 0. Files refused at start, with why.

#include <signal.h>

#include <chrono>
#include <ctime>
#include <deque>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "common/testing/loopback.h"
#include "common/testing/scratch_dir.h"
#include "tools/kv58/outcome.h"
#include "tools/kv58/tests/program_run.h"
#include "tools/kv58_sim/testing/sim_process.h"

#include <httplib.h>

namespace kv58::serve {
namespace {

using kv58::testing::ScratchDir;
using sim::test_support::SimProcess;
using ::testing::HasSubstr;
using Json = nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kToken = "serve-end-to-end-token-0123456789";

std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  (void)localtime_r(&now, &local);
  char text[16];
  (void)std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

// The display (the simulator's address) and what it said next, skipping the line's comings and goings.
std::pair<std::string, std::string> NextDisplayEvent(SimProcess& sim, std::chrono::seconds patience = 10s) {
  for (;;) {
    const std::optional<std::string> line = sim.ReadLine(patience);
    if (!line) {
      return {"", "(no line)"};
    }
    const std::size_t close = line->find("] ");
    const std::string event = line->starts_with('[') ? line->substr(close + 2) : *line;
    const std::size_t space = event.find(' ');
    const std::string what = event.substr(space + 1);
    if (what != "open" && what != "hangup" && !what.starts_with("line ")) {
      return {event.substr(0, space), what};
    }
  }
}

// The texts arriving at each display, in order, whichever display the test asks about first.
class Arrivals {
public:
  explicit Arrivals(SimProcess& sim) : sim_(sim) {}

  std::string Next(const std::string& display, std::chrono::seconds patience = 10s) {
    while (texts_[display].empty()) {
      const auto [at, what] = NextDisplayEvent(sim_, patience);
      if (at.empty()) {
        return "(none)";
      }
      if (what.starts_with("text ")) {
        const std::string quoted = what.substr(what.find(": \"") + 3);
        texts_[at].push_back(quoted.substr(0, quoted.size() - 1));
      }
    }
    std::string text = texts_[display].front();
    texts_[display].pop_front();
    return text;
  }

private:
  SimProcess& sim_;
  std::map<std::string, std::deque<std::string>> texts_;
};

bool Healthy(int port) {
  httplib::Client client("127.0.0.1", port);
  for (int i = 0; i < 100; ++i) {
    if (const auto answer = client.Get("/healthz"); answer && answer->status == 200) {
      return true;
    }
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

TEST(ServeEndToEndTest, ScheduleApiReloadAndStopOnTwoDisplays) {
  ScratchDir folder;
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--listen", "tcp://127.0.0.1:0", "--listen", "tcp://127.0.0.1:0"}, folder.Path()));
  const std::string hall = sim.ReadListeningUrl();
  const std::string queue = sim.ReadListeningUrl();
  const auto ports = folder.Write("ports", "hall-1 " + hall + " hall\nqueue-1 " + queue + " hall queue\n");
  std::filesystem::create_directories(folder.Path() / "texts"); // paths are the schedule's own
  (void)folder.Write("texts/morning.txt", "Good morning, {weekday} {date}");
  (void)folder.Write("texts/tick.txt", "Now serving 17");
  const auto schedule =
      folder.Write("schedule", "# when  displays  what\n"
                               "daily 00:00  all        text --template texts/morning.txt speed 4\n"
                               "every 1m     tag:queue  text texts/tick.txt\n");
  const auto token = folder.Write("token", std::string(kToken) + "\n");
  std::filesystem::permissions(token,
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const int port = kv58::testing::FreeLoopbackPort();
  const auto log = folder.Path() / "log.jsonl";

  std::string stoppedText;
  cli::test_support::Launch launch = cli::test_support::OutputTo(log);
  launch.whileRunning = [&](pid_t pid) {
    if (!Healthy(port)) {
      (void)kill(pid, SIGKILL);
      FAIL() << "kv58 serve does not answer /healthz";
    }
    // At start each display shows what the schedule says it should show today.
    Arrivals arrivals(sim);
    const std::string morning = arrivals.Next(hall);
    EXPECT_THAT(morning, ::testing::StartsWith("Good morning, "));
    EXPECT_THAT(morning, ::testing::EndsWith(Today()));
    EXPECT_EQ(arrivals.Next(queue), "Now serving 17");

    httplib::Client client("127.0.0.1", port);
    client.set_bearer_token_auth(kToken);
    const auto sent = client.Post("/v1/displays/hall-1/text?wait=1", "Order 42 is ready", "text/plain");
    ASSERT_TRUE(sent);
    ASSERT_EQ(sent->status, 200) << sent->body;
    const Json job = Json::parse(sent->body);
    EXPECT_EQ(job["results"][0]["status"], "done");
    EXPECT_EQ(job["results"][0]["pages"], 1);
    EXPECT_EQ(arrivals.Next(hall), "Order 42 is ready");

    // The next minute on the wall clock brings the queue's text again.
    EXPECT_EQ(arrivals.Next(queue, 70s), "Now serving 17");

    std::ofstream(ports, std::ios::app) << "broken-line\n";
    const auto refused = client.Post("/v1/reload", "", "text/plain");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);
    EXPECT_THAT(Json::parse(refused->body)["error"].get<std::string>(), HasSubstr("line 3"));
    std::ofstream(ports) << "hall-1 " << hall << " hall queue\n";
    ASSERT_EQ(kill(pid, SIGHUP), 0);
    // After a reload each display is given what it should show now: the latest entry due.
    EXPECT_EQ(arrivals.Next(hall), "Now serving 17");
    const auto listed = client.Get("/v1/displays");
    ASSERT_TRUE(listed);
    EXPECT_EQ(Json::parse(listed->body).size(), 1U);

    // A stop in the middle of a text: the page being written ends it, with its end.
    const auto long_text = client.Post("/v1/displays/hall-1/text", std::string(700, 'y'), "text/plain");
    ASSERT_TRUE(long_text);
    EXPECT_EQ(long_text->status, 202);
    std::this_thread::sleep_for(1300ms);
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    stoppedText = arrivals.Next(hall);
  };
  const auto finished = cli::test_support::RunProgram(
      {"serve", "--ports-file", ports.string(), "--schedule", schedule.string(), "--listen",
       "127.0.0.1:" + std::to_string(port), "--token-file", token.string()},
      folder.Path(), launch);
  ASSERT_TRUE(finished.has_value());
  EXPECT_EQ(finished->status, cli::kExitDone) << finished->err;
  EXPECT_THAT(finished->err, HasSubstr("refused, so the ones in use stay"));
  EXPECT_THAT(finished->err, HasSubstr("the files were read again: 1 display, 2 schedule entries"));

  std::ifstream lines(log);
  std::vector<Json> logged;
  for (std::string line; std::getline(lines, line);) {
    logged.push_back(Json::parse(line));
  }
  ASSERT_GE(logged.size(), 6U);
  const Json stopped = logged.back();
  logged.pop_back();
  for (const Json& line : logged) {
    EXPECT_EQ(line["status"], "done") << line;
    EXPECT_TRUE(line.contains("job") && line.contains("source") && line.contains("attempts")) << line;
  }
  EXPECT_EQ(stopped["status"], "interrupted") << stopped;
  EXPECT_EQ(stopped["text_ended"], true) << stopped;
  EXPECT_LT(stopped["pages_sent"].get<int>(), 3) << stopped;
  EXPECT_EQ(stoppedText, std::string(256 * stopped["pages_sent"].get<std::size_t>(), 'y'));
  EXPECT_THAT(logged[0]["source"].get<std::string>(), HasSubstr("(at start)"));
}

TEST(ServeEndToEndTest, FilesAndOptionsRefusedAtStartSayWhy) {
  ScratchDir folder;
  const auto ports = folder.Write("ports", "hall-1 tcp://127.0.0.1:9 hall\n");
  (void)folder.Write("t.txt", "hello");
  struct Case {
    std::vector<std::string> args;
    std::string schedule;
    const char* why;
  };
  const std::vector<Case> cases = {
      {{}, "# fine\ndaily 08:00 cellar text t.txt\n", "line 2: no display is named cellar"},
      {{}, "daily 08:00 tag:cellar text t.txt\n", "no display carries the tag cellar"},
      {{"--listen", "0.0.0.0:8058"}, "", "give --token-file"},
      {{"--json"}, "", "serve takes --ports-file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::vector<std::string> args = {"serve", "--ports-file", ports.string()};
    if (!c.schedule.empty()) {
      args.insert(args.end(), {"--schedule", folder.Write("schedule", c.schedule).string()});
    }
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto finished = cli::test_support::RunProgram(args, folder.Path());
    ASSERT_TRUE(finished.has_value());
    EXPECT_EQ(finished->status, cli::kExitUsageError);
    EXPECT_THAT(finished->err, HasSubstr(c.why));
  }
}

} // namespace
} // namespace kv58::serve
