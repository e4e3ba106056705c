#pragma once
// A device server whose network drops the first connection at the worst moment: a proxy on
// 127.0.0.1 in front of a simulator that passes the first client's bytes until `cutAfter` of
// them have gone through, then closes both ends, as a lost link does. The display behind it
// keeps whatever it was in the middle of. Later clients pass whole, or are refused.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <thread>

#include "common/testing/loopback.h"

namespace kv58::cli::test_support {

class CuttingProxy {
public:
  enum class Later { PassWhole, Refused };

  CuttingProxy(int upstreamPort, std::size_t cutAfter, Later later)
      : upstreamPort_(upstreamPort), cutAfter_(cutAfter), later_(later) {
    const kv58::testing::Listener listener = kv58::testing::ListenOnLoopback(0, 4);
    listener_ = listener.fd;
    port_ = listener.port;
    if (listener_ >= 0) {
      thread_ = std::thread([this] { Serve(); });
    }
  }
  ~CuttingProxy() {
    stop_ = true;
    if (thread_.joinable()) {
      thread_.join();
    }
    if (listener_ >= 0) {
      ::close(listener_);
    }
  }
  CuttingProxy(const CuttingProxy&) = delete;
  CuttingProxy& operator=(const CuttingProxy&) = delete;

  // Where clients connect; 0 when the proxy could not listen.
  [[nodiscard]] int Port() const { return port_; }

private:
  static constexpr int kPollMs = 20;

  void Serve() {
    for (bool first = true; !stop_;) {
      pollfd waiting{listener_, POLLIN, 0};
      if (::poll(&waiting, 1, kPollMs) != 1) {
        continue;
      }
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) {
        continue;
      }
      const int server = kv58::testing::ConnectToLoopback(upstreamPort_);
      if (server >= 0) {
        Pass(client, server, first ? cutAfter_ : static_cast<std::size_t>(-1));
        ::close(server);
      }
      ::close(client);
      if (first && later_ == Later::Refused) {
        ::close(listener_); // nothing listens any more: the next connect is refused
        listener_ = -1;
        return;
      }
      first = false;
    }
  }

  // Both ways until either end closes, or until `budget` bytes have gone from client to server.
  void Pass(int client, int server, std::size_t budget) {
    std::array<char, 4096> chunk{};
    while (!stop_) {
      std::array<pollfd, 2> ends{pollfd{client, POLLIN, 0}, pollfd{server, POLLIN, 0}};
      if (::poll(ends.data(), ends.size(), kPollMs) <= 0) {
        continue;
      }
      for (std::size_t i = 0; i < ends.size(); ++i) {
        if ((ends[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
          continue;
        }
        const bool upstream = i == 0;
        const std::size_t room = upstream ? std::min(chunk.size(), budget) : chunk.size();
        const ssize_t got = ::read(ends[i].fd, chunk.data(), room);
        if (got <= 0 || !WriteAll(upstream ? server : client, chunk.data(), static_cast<std::size_t>(got))) {
          return;
        }
        if (upstream && (budget -= static_cast<std::size_t>(got)) == 0) {
          return; // the link drops here
        }
      }
    }
  }

  static bool WriteAll(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
      const ssize_t put = ::send(fd, bytes, count, MSG_NOSIGNAL);
      if (put <= 0) {
        return false;
      }
      bytes += put;
      count -= static_cast<std::size_t>(put);
    }
    return true;
  }

  int upstreamPort_;
  std::size_t cutAfter_;
  Later later_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

} // namespace kv58::cli::test_support
