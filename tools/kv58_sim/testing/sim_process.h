#pragma once
// The device simulator as a child process for tests: started with its arguments and a
// configuration home of the test's own, its standard output read line by line. Deadlines
// only keep a broken simulator from hanging a test.

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace kv58::sim::test_support {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline constexpr auto kPatience = std::chrono::seconds(10);

inline int MillisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for fd to become readable; false when the deadline passes first.
inline bool WaitReadable(int fd, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, MillisLeft(deadline));
    if (ready > 0) {
      return true;
    }
    if (ready == 0 || errno != EINTR) {
      return false;
    }
  }
}

// The simulator as a child process, its standard output read line by line through a pipe.
class SimProcess {
public:
  explicit SimProcess(std::string program = KV58_SIM_PATH) : program_(std::move(program)) {}
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      (void)waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) {
      close(output_);
    }
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Its standard error, too, goes to the lines read (for the next Start).
  void ReadErrorsToo() { errorsToo_ = true; }

  [[nodiscard]] bool Start(const std::vector<std::string>& args, const fs::path& configHome) {
    std::array<int, 2> pipeEnds{};
    if (pipe2(pipeEnds.data(), O_CLOEXEC) != 0) {
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    if (errorsToo_) {
      posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    }

    std::vector<std::string> argStrings{program_};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings{"XDG_CONFIG_HOME=" + configHome.string()};
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (std::strncmp(*entry, "XDG_CONFIG_HOME=", 16) != 0) {
        envStrings.emplace_back(*entry);
      }
    }
    std::vector<char*> argv = Pointers(argStrings);
    std::vector<char*> envp = Pointers(envStrings);
    const int failed = posix_spawn(&pid_, program_.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    output_ = pipeEnds[0];
    if (failed != 0) {
      pid_ = -1;
    }
    return failed == 0;
  }

  // Starts on a pseudo-terminal of its own, linked as `name` (COM7 and the like), with `more`
  // options; the terminal's path, or none.
  [[nodiscard]] std::optional<std::string> StartLinked(const std::string& name, const fs::path& configHome,
                                                       std::vector<std::string> more = {}) {
    more.insert(more.begin(), {"--link", name});
    if (!Start(more, configHome)) {
      return std::nullopt;
    }
    const std::string line = ReadLine().value_or("");
    if (!line.starts_with("pty /dev/pts/") || !ReadLine().has_value()) {
      return std::nullopt;
    }
    return line.substr(line.find(' ') + 1);
  }

  // The next whole line of output, or none when the deadline passes or the output ends.
  [[nodiscard]] std::optional<std::string> ReadLine(Clock::duration patience = kPatience) {
    const auto deadline = Clock::now() + patience;
    for (;;) {
      if (const std::size_t end = buffered_.find('\n'); end != std::string::npos) {
        std::string line = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        return line;
      }
      if (!WaitReadable(output_, deadline)) {
        return std::nullopt;
      }
      std::array<char, 4096> chunk{};
      const ssize_t count = read(output_, chunk.data(), chunk.size());
      if (count <= 0) {
        return std::nullopt;
      }
      buffered_.append(chunk.data(), static_cast<std::size_t>(count));
    }
  }

  // The address the next line says the simulator listens on, as text ("listening URL") or
  // JSON; empty when that line is something else.
  [[nodiscard]] std::string ReadListeningUrl() {
    const std::string line = ReadLine().value_or("");
    for (const std::string_view said : {"listening ", R"({"t_ms":0,"event":"listening","url":")"}) {
      if (line.starts_with(said)) {
        const std::string url = line.substr(said.size());
        return url.substr(0, url.find('"'));
      }
    }
    return {};
  }

  // The next line with its "[   1234 ms] " time taken off.
  [[nodiscard]] std::string NextEvent() {
    const std::optional<std::string> line = ReadLine();
    if (!line) {
      return "(no line)";
    }
    const std::size_t close = line->find("] ");
    return line->starts_with('[') && close != std::string::npos ? line->substr(close + 2) : *line;
  }

  void Signal(int signal) const { kill(pid_, signal); }

  // The exit status once the process has ended; none if it is still running at the deadline.
  [[nodiscard]] std::optional<int> WaitForExit() {
    const auto deadline = Clock::now() + kPatience;
    while (Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(10'000);
    }
    return std::nullopt;
  }

private:
  static std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string& s : strings) {
      pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
  }

  std::string program_;
  bool errorsToo_ = false;
  pid_t pid_ = -1;
  int output_ = -1;
  std::string buffered_;
};

} // namespace kv58::sim::test_support
