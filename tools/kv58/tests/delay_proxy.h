#pragma once
// A device server a round trip away, made on 127.0.0.1: a proxy that holds every chunk a set
// time in each direction, order kept, between a client and a server, one client at a time.
// This kernel has no netem; this is what the delay is made of instead. It can also drop the
// first connection at the worst moment, as a lost link does: once `ProxyCut::firstAfter` of the
// client's bytes have gone through, both ends are closed, and the display behind the server
// keeps whatever it was in the middle of; later clients pass whole, or are refused.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <limits>
#include <string>
#include <thread>
#include <utility>

#include "common/testing/loopback.h"

namespace kv58::cli::test_support {

// Where DelayProxy drops its first client: after so many of its bytes; later clients pass
// whole, or are refused.
struct ProxyCut {
  std::size_t firstAfter = std::numeric_limits<std::size_t>::max();
  bool laterRefused = false;
};

class DelayProxy {
public:
  using Clock = std::chrono::steady_clock;

  DelayProxy(int upstreamPort, std::chrono::milliseconds oneWay, ProxyCut cut = {})
      : upstreamPort_(upstreamPort), delay_(oneWay), cut_(cut) {
    const kv58::testing::Listener listener = kv58::testing::ListenOnLoopback(0, 1);
    listener_ = listener.fd;
    if (listener_ < 0) {
      return;
    }
    port_ = listener.port;
    thread_ = std::thread([this] { Serve(); });
  }
  ~DelayProxy() {
    stop_ = true;
    if (thread_.joinable()) {
      thread_.join();
    }
    if (listener_ >= 0) {
      ::close(listener_);
    }
  }
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  // Where clients connect; 0 when the proxy could not listen.
  [[nodiscard]] int Port() const { return port_; }

private:
  struct Held {
    Clock::time_point due;
    std::string bytes;
  };
  // One direction: what `from` sends reaches `to` the delay later.
  struct Direction {
    int from = -1;
    int to = -1;
    std::deque<Held> held;
    bool open = true;
    std::size_t budget = std::numeric_limits<std::size_t>::max(); // bytes it passes before it closes
  };

  void Serve() {
    for (bool first = true; !stop_ && Pass(first ? cut_.firstAfter : std::numeric_limits<std::size_t>::max());
         first = false) {
      if (first && cut_.laterRefused) {
        ::close(listener_); // nothing listens any more: the next connect is refused
        listener_ = -1;
        return;
      }
    }
  }

  // One client, until either end closes or `budget` of its bytes have gone through; false when
  // none came before the proxy ended.
  bool Pass(std::size_t budget) {
    int client = -1;
    while (!stop_ && client < 0) {
      pollfd watch{listener_, POLLIN, 0};
      if (::poll(&watch, 1, 20) > 0) {
        client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      }
    }
    if (client < 0) {
      return false;
    }
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = kv58::testing::LoopbackAddress(upstreamPort_);
    const int on = 1;
    (void)::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    (void)::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      std::array<Direction, 2> ways{Direction{client, server, {}, true, budget},
                                    Direction{server, client, {}, true}};
      while (!stop_ && (ways[0].open || !ways[0].held.empty()) && (ways[1].open || !ways[1].held.empty())) {
        Step(ways);
      }
    }
    ::close(server);
    ::close(client);
    return true;
  }

  // Reads what has come, until the next chunk is due, and passes on what is due.
  void Step(std::array<Direction, 2>& ways) {
    auto wake = Clock::now() + std::chrono::milliseconds(10);
    for (const Direction& way : ways) {
      if (!way.held.empty()) {
        wake = std::min(wake, way.held.front().due);
      }
    }
    std::array<pollfd, 2> watch{pollfd{ways[0].open ? ways[0].from : -1, POLLIN, 0},
                                pollfd{ways[1].open ? ways[1].from : -1, POLLIN, 0}};
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now()).count();
    if (::poll(watch.data(), watch.size(), static_cast<int>(std::max<std::int64_t>(wait, 0))) > 0) {
      for (std::size_t i = 0; i < ways.size(); ++i) {
        if ((watch[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
          Take(ways[i]);
        }
      }
    }
    for (Direction& way : ways) {
      while (!way.held.empty() && way.held.front().due <= Clock::now()) {
        (void)!::send(way.to, way.held.front().bytes.data(), way.held.front().bytes.size(), MSG_NOSIGNAL);
        way.held.pop_front();
      }
      if (!way.open && way.held.empty()) {
        ::shutdown(way.to, SHUT_WR);
      }
    }
  }

  void Take(Direction& way) const {
    std::array<char, 4096> chunk{};
    const ssize_t got = ::recv(way.from, chunk.data(), std::min(chunk.size(), way.budget), 0);
    if (got <= 0) {
      way.open = false;
      return;
    }
    way.budget -= static_cast<std::size_t>(got);
    way.open = way.budget > 0;
    way.held.push_back(Held{Clock::now() + delay_, std::string(chunk.data(), static_cast<std::size_t>(got))});
  }

  int upstreamPort_;
  std::chrono::milliseconds delay_;
  ProxyCut cut_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

} // namespace kv58::cli::test_support
