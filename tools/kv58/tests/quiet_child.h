#pragma once
// A program a test starts (a device server, ip, tc) with its output discarded, and ends by
// its process id at the latest when the object goes.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

extern char** environ;

namespace kv58::cli::test_support {

class QuietChild {
public:
  explicit QuietChild(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~QuietChild() { Stop(SIGTERM); }
  QuietChild(const QuietChild&) = delete;
  QuietChild& operator=(const QuietChild&) = delete;

  // Ends the program with `signal` and waits for it.
  void Stop(int signal) {
    if (pid_ > 0) {
      ::kill(pid_, signal);
      (void)::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

  // Waits for the program to end; whether it exited 0.
  [[nodiscard]] bool Succeeded() {
    int status = 0;
    const bool ended = pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_;
    pid_ = -1;
    return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  [[nodiscard]] pid_t Pid() const { return pid_; }

private:
  pid_t pid_ = -1;
};

} // namespace kv58::cli::test_support
