#pragma once
// The real kv58 program as a child process for tests: its environment, standard streams and
// what the test does while it runs are the test's; standard error is collected. Deadlines
// only keep a broken run from hanging.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/kv58_sim/testing/sim_process.h"

namespace kv58::cli::test_support {

namespace fs = std::filesystem;

struct Finished {
  int status = -1;
  std::string out;
  std::string err;
};

// How the real kv58 program is started: its environment (XDG_CONFIG_HOME alone unless given),
// what its standard input and output are, and what the test does while it runs.
struct Launch {
  std::optional<std::vector<std::string>> environment;
  std::function<void(posix_spawn_file_actions_t&)> files = [](posix_spawn_file_actions_t& actions) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  };
  std::function<void(pid_t)> whileRunning = [](pid_t) {};
};

// Standard output into `file`, for a report read back after the run.
inline Launch OutputTo(const fs::path& file) {
  Launch launch;
  launch.files = [file](posix_spawn_file_actions_t& actions) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
  };
  return launch;
}

// Runs the real kv58 program with its standard error in a pipe; none if it does not end.
inline std::optional<Finished> RunProgram(const std::vector<std::string>& args, const fs::path& configHome,
                                          const Launch& launch = {}) {
  std::array<int, 2> pipeEnds{};
  if (pipe2(pipeEnds.data(), O_CLOEXEC) != 0) {
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
  launch.files(actions);
  std::vector<std::string> strings{KV58_PATH};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : strings) {
    argv.push_back(s.data());
  }
  argv.push_back(nullptr);
  std::vector<std::string> environment =
      launch.environment.value_or(std::vector<std::string>{"XDG_CONFIG_HOME=" + configHome.string()});
  std::vector<char*> envp;
  for (std::string& s : environment) {
    envp.push_back(s.data());
  }
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, KV58_PATH, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (failed == 0) {
    launch.whileRunning(pid);
  }
  Finished finished;
  std::array<char, 512> chunk{};
  const auto deadline = sim::test_support::Clock::now() + sim::test_support::kPatience;
  while (failed == 0 && sim::test_support::WaitReadable(pipeEnds[0], deadline)) {
    const ssize_t got = read(pipeEnds[0], chunk.data(), chunk.size());
    if (got <= 0) {
      break;
    }
    finished.err.append(chunk.data(), static_cast<std::size_t>(got));
  }
  close(pipeEnds[0]);
  if (failed != 0) {
    return std::nullopt;
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
    return std::nullopt;
  }
  finished.status = WEXITSTATUS(status);
  return finished;
}

} // namespace kv58::cli::test_support
