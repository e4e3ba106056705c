// What TLS costs a display behind a device server: from connect to the line settings taken
// (RFC 2217, SET-BAUDRATE answered) against a real ser2net on 127.0.0.1, in clear and inside
// TLS with a P-256 and an RSA-2048 certificate, each on an accepter with Nagle on (as
// ser2net's default) and with tcp(nodelay); and the client's CPU for the handshake alone.
// ser2net, its pseudo-terminal and the certificates are made once here and removed at exit.
//
//   cmake --build <dir> --target tls_bench && <dir>/bench/tls_bench

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/testing/loopback.h"
#include "common/testing/scratch_dir.h"
#include "serial/network_line.h"
#include "serial/socket_stream.h"
#include "serial/tls_stream.h"

extern char** environ;

namespace kv58 {
namespace {

bool Write(const std::string& file, const std::string& text) {
  FILE* out = std::fopen(file.c_str(), "w");
  if (out == nullptr) {
    return false;
  }
  const bool written = std::fputs(text.c_str(), out) >= 0;
  return std::fclose(out) == 0 && written;
}

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// ser2net in front of one pseudo-terminal, with six accepters: clear, P-256, RSA, each with
// and without nodelay. The connections take turns, so one terminal serves them all.
class Server {
public:
  Server() {
    const std::string dir = folder_.Path().string() + "/";
    ca_ = dir + "ca.crt";
    bool made = Shell("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + dir +
                      "ca.key -out " + ca_ + " -days 2 -subj /CN=bench-ca") &&
                Write(dir + "ext", "subjectAltName=IP:127.0.0.1\n");
    for (const char* kind : {"ec", "rsa"}) {
      const std::string key = std::string(kind) == "ec" ? "ec -pkeyopt ec_paramgen_curve:P-256" : "rsa:2048";
      made = made &&
             Shell("openssl req -newkey " + key + " -nodes -keyout " + dir + kind + ".key -out " + dir +
                   kind + ".csr -subj /CN=bench") &&
             Shell("openssl x509 -req -in " + dir + kind + ".csr -CA " + ca_ + " -CAkey " + dir +
                   "ca.key -CAcreateserial -days 2 -out " + dir + kind + ".crt -extfile " + dir + "ext");
    }
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (!made || master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
      return;
    }
    const std::string pty = ::ptsname(master_);
    std::string config = "%YAML 1.1\n---\n";
    const char* layers[] = {"", "ec", "rsa"};
    for (int nodelay = 0; nodelay < 2; ++nodelay) {
      for (const char* layer : layers) {
        const int port = kv58::testing::FreeLoopbackPort();
        ports_.push_back(port);
        const std::string tls =
            *layer == '\0' ? "" : "ssl(key=" + dir + layer + ".key,cert=" + dir + layer + ".crt),";
        config += "connection: &c" + std::to_string(port) + "\n    accepter: telnet(rfc2217)," + tls +
                  (nodelay ? "tcp(nodelay)" : "tcp") + ",127.0.0.1," + std::to_string(port) +
                  "\n    connector: serialdev," + pty + ",9600n81,local\n";
      }
    }
    const std::string file = dir + "ser2net.yaml";
    if (!Write(file, config)) {
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string pidFile = dir + "ser2net.pid";
    std::vector<std::string> args{"/usr/sbin/ser2net", "-n", "-d", "-u", "-c", file, "-P", pidFile};
    std::vector<char*> argv;
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    for (int attempt = 0; pid_ > 0 && attempt < 300; ++attempt) {
      if (const int fd = kv58::testing::ConnectToLoopback(ports_.back()); fd >= 0) {
        ::close(fd);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Server() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      (void)::waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) {
      ::close(master_);
    }
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  [[nodiscard]] bool Ready() const { return pid_ > 0 && ports_.size() == 6; }

  // ser2net's CPU so far (user and system), in milliseconds, from /proc.
  [[nodiscard]] double CpuMilliseconds() const {
    FILE* stat = std::fopen(("/proc/" + std::to_string(pid_) + "/stat").c_str(), "r");
    if (stat == nullptr) {
      return 0;
    }
    char text[1024] = {};
    const std::size_t length = std::fread(text, 1, sizeof text - 1, stat);
    std::fclose(stat);
    // After the command's closing parenthesis: state, then fields 4 to 13, then utime, stime.
    const std::string fields(text, length);
    std::size_t at = fields.rfind(')') + 2;
    for (int skip = 0; skip < 11; ++skip) {
      at = fields.find(' ', at) + 1;
    }
    unsigned long user = 0;
    unsigned long system = 0;
    if (std::sscanf(fields.c_str() + at, "%lu %lu", &user, &system) != 2) {
      return 0;
    }
    return static_cast<double>(user + system) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }

  // Accepter `which`: 0 clear, 1 P-256, 2 RSA; 3 to 5 the same with nodelay.
  [[nodiscard]] NetworkPort Port(std::int64_t which) const {
    NetworkPort port(NetworkPort::Mode::Rfc2217, "127.0.0.1",
                     static_cast<std::uint16_t>(ports_[static_cast<std::size_t>(which)]));
    port.tls = which % 3 != 0;
    port.tlsSettings.caFile = ca_;
    return port;
  }

private:
  kv58::testing::ScratchDir folder_;
  std::string ca_;
  std::vector<int> ports_;
  int master_ = -1;
  pid_t pid_ = -1;
};

Server& TheServer() {
  static Server server;
  return server;
}

const char* const kLabels[] = {"clear",          "TLS P-256",          "TLS RSA-2048",
                               "clear, nodelay", "TLS P-256, nodelay", "TLS RSA-2048, nodelay"};

// Connect, TLS if any, the Telnet negotiation, SET-BAUDRATE answered: the wall time per display.
void BM_ConnectToLineSet(benchmark::State& state) {
  const Server& server = TheServer();
  if (!server.Ready()) {
    state.SkipWithError("ser2net or openssl did not start");
    return;
  }
  state.SetLabel(kLabels[state.range(0)]);
  const NetworkPort port = server.Port(state.range(0));
  const StreamConnector connect = SocketConnector();
  for (auto _ : state) {
    OpenFailure failure;
    std::unique_ptr<NetworkLine> line = NetworkLine::Open(port, connect, failure);
    std::string note;
    if (!line || !line->ApplyLineSettings(9600, note)) {
      state.SkipWithError(line ? note.c_str() : failure.detail.c_str());
      return;
    }
    state.PauseTiming();
    line.reset(); // its linger is no part of a connection's set-up
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // ser2net lets the terminal go
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ConnectToLineSet)
    ->DenseRange(0, 5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(40);

// The client's CPU for the TCP connection and the handshake with its certificate check,
// nothing else: the handshake's share is the TLS rows less the clear one.
void BM_HandshakeCpu(benchmark::State& state) {
  const Server& server = TheServer();
  if (!server.Ready()) {
    state.SkipWithError("ser2net or openssl did not start");
    return;
  }
  state.SetLabel(kLabels[state.range(0) + 3]);
  const NetworkPort port = server.Port(state.range(0) + 3);
  const StreamConnector connect = SocketConnector();
  const double serverBefore = server.CpuMilliseconds();
  for (auto _ : state) {
    OpenFailure failure;
    std::unique_ptr<ByteStream> stream = connect(port, kNetworkStepTimeout, failure);
    if (stream && port.tls) {
      stream = StartTls(std::move(stream), port, SteadyClock::now() + kNetworkStepTimeout, failure);
    }
    if (!stream) {
      state.SkipWithError(failure.detail.c_str());
      return;
    }
    state.PauseTiming();
    stream.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // ser2net lets the terminal go
    state.ResumeTiming();
  }
  // The server's side, for a sense of what a device server pays (pauses included: little).
  state.counters["server_cpu_ms"] =
      (server.CpuMilliseconds() - serverBefore) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_HandshakeCpu)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(100);

} // namespace
} // namespace kv58
