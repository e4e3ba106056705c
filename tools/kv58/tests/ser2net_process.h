#pragma once
// ser2net as the device server of a test: a configuration of the test's own on 127.0.0.1,
// started in the foreground and stopped by its process id when the object goes.

#include <algorithm>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/testing/loopback.h"
#include "common/testing/scratch_dir.h"
#include "tools/kv58/tests/quiet_child.h"

namespace kv58::cli::test_support {

inline constexpr const char* kSer2net = "/usr/sbin/ser2net";

inline int FreePort() { return kv58::testing::FreeLoopbackPort(); }
inline int Connect(int port) { return kv58::testing::ConnectToLoopback(port); }

// ser2net with a configuration of the test's own (no banner): a port in front of each
// simulator's terminal, raw or RFC 2217, and a probe port that tells when it listens.
class Ser2net {
public:
  struct Line {
    Line(bool telnet_, std::string device_, std::string tls_ = {}, std::string authdir_ = {})
        : telnet(telnet_), device(std::move(device_)), tls(std::move(tls_)), authdir(std::move(authdir_)) {}
    bool telnet = false;
    std::string device;  // a terminal's path, or "echo" for ser2net's echo connector
    std::string tls;     // the TLS layer, "ssl(key=FILE,cert=FILE)"; empty for a port in clear
    std::string authdir; // where ssl(clientauth) finds the allowed client certificates
  };

  Ser2net(const kv58::testing::ScratchDir& folder, const std::vector<Line>& lines) : probe_(FreePort()) {
    std::string config = "%YAML 1.1\n---\n" + Connection("probe", "tcp", probe_, "echo");
    for (const Line& line : lines) {
      ports.push_back(UnusedPort());
      const std::string layers = std::string(line.telnet ? "telnet(rfc2217)," : "") +
                                 (line.tls.empty() ? "" : line.tls + ",") + "tcp";
      config += Connection("line" + std::to_string(ports.size()), layers, ports.back(),
                           line.device == "echo" ? "echo" : "serialdev," + line.device) +
                (line.authdir.empty() ? "" : "    options:\n      authdir: " + line.authdir + "\n");
    }
    const auto file = folder.Write("ser2net.yaml", config);
    process_ = std::make_unique<QuietChild>(std::vector<std::string>{
        kSer2net, "-n", "-d", "-u", "-c", file.string(), "-P", (folder / "ser2net.pid").string()});
  }
  Ser2net(const Ser2net&) = delete;
  Ser2net& operator=(const Ser2net&) = delete;

  // Whether it listens, judged by its probe port, within a few seconds.
  [[nodiscard]] bool Listening() const {
    for (int attempt = 0; process_->Pid() > 0 && attempt < 300; ++attempt) {
      if (const int fd = Connect(probe_); fd >= 0) {
        ::close(fd);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  void Stop(int signal) { process_->Stop(signal); }
  void Signal(int signal) const { ::kill(process_->Pid(), signal); }

  std::vector<int> ports; // one a line, in the order given

private:
  // A free port that none of this server's lines has yet: the system may hand out a port
  // twice once it is closed again, and two lines on one port make one display of two.
  [[nodiscard]] int UnusedPort() const {
    int port = FreePort();
    while (port == probe_ || std::find(ports.begin(), ports.end(), port) != ports.end()) {
      port = FreePort();
    }
    return port;
  }

  static std::string Connection(const std::string& name, const std::string& accepter, int port,
                                const std::string& connector) {
    return "connection: &" + name + "\n    accepter: " + accepter + ",127.0.0.1," + std::to_string(port) +
           "\n    connector: " + connector + (connector == "echo" ? "" : ",9600n81,local") + "\n";
  }

  int probe_;
  std::unique_ptr<QuietChild> process_;
};

} // namespace kv58::cli::test_support
