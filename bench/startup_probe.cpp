// Times a program from its exec to its first window on the X display: watches the root
// window for a child being mapped, starts the program, and prints the milliseconds between,
// the program's resident memory (kB) at that moment and the CPU time its threads had taken
// (ms; unlike the first figure, hardly moved by other programs on the machine). Then ends the
// program.
//   startup_probe PROGRAM [ARGUMENT...]
// Meant for a private X server without a window manager (scripts/bench-startup), where a
// top-level window is mapped as soon as its program asks.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

constexpr int kTimeoutMs = 20'000;
constexpr std::uint8_t kEventCodeMask = 0x7F; // the top bit marks a sent event

using Clock = std::chrono::steady_clock;

// The VmRSS line of /proc/PID/status, in kB; 0 when it cannot be read.
long ResidentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string field;
  while (status >> field) {
    if (field == "VmRSS:") {
      long kilobytes = 0;
      status >> kilobytes;
      return kilobytes;
    }
  }
  return 0;
}

// The CPU time of the program's live threads, in ms, from the scheduler's nanosecond counts.
double CpuMilliseconds(pid_t pid) {
  std::error_code error;
  std::uint64_t nanoseconds = 0;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream schedstat(task.path() / "schedstat");
    std::uint64_t onCpu = 0;
    if (schedstat >> onCpu) {
      nanoseconds += onCpu;
    }
  }
  return static_cast<double>(nanoseconds) / 1e6;
}

// Waits for a MapNotify on the root; false on a time-out or a lost connection.
bool WaitForMappedWindow(xcb_connection_t* connection, Clock::time_point start) {
  const int fd = xcb_get_file_descriptor(connection);
  for (;;) {
    while (const std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event{
        xcb_poll_for_event(connection), &std::free}) {
      if ((event->response_type & kEventCodeMask) == XCB_MAP_NOTIFY) {
        return true;
      }
    }
    if (xcb_connection_has_error(connection) != 0) {
      return false;
    }
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    pollfd readable{fd, POLLIN, 0};
    if (waited >= kTimeoutMs || poll(&readable, 1, static_cast<int>(kTimeoutMs - waited)) == 0) {
      return false;
    }
  }
}

} // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fputs("usage: startup_probe PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(connection) != 0) {
    std::fputs("startup_probe: cannot connect to the X display\n", stderr);
    return 1;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  // Checked, so the server has taken the mask before the program starts.
  if (const auto* error = xcb_request_check(
          connection, xcb_change_window_attributes_checked(connection, root, XCB_CW_EVENT_MASK, &mask))) {
    std::free(const_cast<xcb_generic_error_t*>(error));
    std::fputs("startup_probe: cannot watch the root window\n", stderr);
    return 1;
  }

  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    close(xcb_get_file_descriptor(connection));
    execvp(argv[1], argv + 1);
    std::perror(argv[1]);
    _exit(127);
  }
  if (child < 0) {
    std::perror("fork");
    return 1;
  }
  const bool mapped = WaitForMappedWindow(connection, start);
  const auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  const long resident = ResidentKilobytes(child);
  const double cpu = CpuMilliseconds(child);
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  xcb_disconnect(connection);
  if (!mapped) {
    std::fprintf(stderr, "startup_probe: %s showed no window\n", argv[1]);
    return 1;
  }
  std::printf("%.3f %ld %.3f\n", elapsed, resident, cpu);
  return 0;
}
