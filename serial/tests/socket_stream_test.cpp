// The real connection's open, as the network driver sees it, with the name look-up on a pool
// the test holds: a thread that will not start, a resolver that does not answer, a stop
// request during the look-up and during the connection. No name reaches a real resolver: the
// pool's threads never run the look-up, or the name is an address.

#include "serial/socket_stream.h"

#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

#include "common/stop_request.h"
#include "serial/network_serial_driver.h"

#if !defined(_WIN32)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace kv58 {
namespace {

using namespace std::chrono_literals;
using Kind = OpenFailure::Kind;
using Clock = std::chrono::steady_clock;

bool NoThreadStarts(const std::function<void()>& /*body*/) { return false; }

// Starts threads that do not serve before the test lets them: look-ups held by a resolver
// that does not answer.
class HeldPool {
public:
  HeldPool()
      : pool_(
            1,
            [this](std::function<void()> body) {
              threads_.emplace_back([open = release_.get_future().share(), body = std::move(body)] {
                open.wait();
                body();
              });
              return true;
            },
            50ms) {}
  ~HeldPool() {
    release_.set_value();
    for (auto& thread : threads_) {
      thread.join();
    }
  }
  HeldPool(const HeldPool&) = delete;
  HeldPool& operator=(const HeldPool&) = delete;
  BoundedCallPool& Pool() { return pool_; }

private:
  std::promise<void> release_;
  std::vector<std::thread> threads_;
  BoundedCallPool pool_;
};

struct Attempt {
  PortHandle handle = 0;
  OpenFailure failure;
  Clock::duration took{};
};

Attempt Open(BoundedCallPool& lookUps, const std::string& name) {
  NetworkSerialDriver driver(SocketConnector(lookUps));
  Attempt attempt;
  const auto start = Clock::now();
  attempt.handle = driver.CreateFileA(name);
  attempt.took = Clock::now() - start;
  attempt.failure = driver.LastOpenFailure();
  if (attempt.handle != 0) {
    (void)driver.CloseHandle(attempt.handle);
  }
  return attempt;
}

TEST(SocketStreamTest, ALookUpWithoutAThreadFailsAsSuchAndNeverThrows) {
  BoundedCallPool pool(4, NoThreadStarts);
  const Attempt attempt = Open(pool, "tcp://display-7.invalid:4001");
  EXPECT_EQ(attempt.handle, 0u);
  EXPECT_EQ(attempt.failure.kind, Kind::NoThread);
  EXPECT_EQ(attempt.failure.detail,
            "cannot connect to display-7.invalid:4001: the system would not start a thread to look up "
            "display-7.invalid");
}

TEST(SocketStreamTest, AnAddressNeedsNoLookUpThread) {
  BoundedCallPool pool(4, NoThreadStarts);
  const Attempt attempt = Open(pool, "tcp://127.0.0.1:1"); // nothing listens on port 1
  EXPECT_NE(attempt.failure.kind, Kind::NoThread) << attempt.failure.detail;
  EXPECT_EQ(pool.PeakThreads(), 0u);
}

TEST(SocketStreamTest, ALookUpThatGetsNoAnswerTimesOutAsSuchNotAsAnUnknownName) {
  HeldPool held;
  const Attempt attempt = Open(held.Pool(), "tcp://display-7.invalid:4001");
  EXPECT_EQ(attempt.failure.kind, Kind::LookUpTimedOut);
  EXPECT_EQ(attempt.failure.detail,
            "cannot connect to display-7.invalid:4001: the name look-up of display-7.invalid did not end "
            "within 3 s");
}

TEST(SocketStreamTest, AStopDuringTheLookUpIsAnInterruption) {
  HeldPool held;
  std::thread stopper([] {
    std::this_thread::sleep_for(300ms);
    RequestStop(StopLevel::Finish);
  });
  const Attempt attempt = Open(held.Pool(), "rfc2217://Display-7.invalid:4001");
  stopper.join();
  ClearStopRequest();
  EXPECT_EQ(attempt.failure.kind, Kind::Interrupted);
  EXPECT_EQ(attempt.failure.detail, "interrupted while looking up Display-7.invalid");
  EXPECT_LT(attempt.took, 1500ms) << "the first request ends an open without its grace";
}

#if !defined(_WIN32)
// A stop while the server's host has not answered the connection: a listener whose queue is
// full drops further connection requests, as an unreachable host would.
TEST(SocketStreamTest, AStopDuringTheConnectionIsAnInterruption) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  std::vector<int> queued;
  for (int i = 0; i < 4; ++i) {
    queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    (void)::connect(queued.back(), reinterpret_cast<sockaddr*>(&address), length);
  }
  std::this_thread::sleep_for(100ms);
  std::thread stopper([] {
    std::this_thread::sleep_for(500ms);
    RequestStop(StopLevel::Finish);
  });
  BoundedCallPool pool(1);
  const Attempt attempt = Open(pool, "rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
  stopper.join();
  ClearStopRequest();
  for (const int fd : queued) {
    ::close(fd);
  }
  ::close(listener);
  EXPECT_EQ(attempt.failure.kind, Kind::Interrupted) << attempt.failure.detail;
  EXPECT_EQ(attempt.failure.detail,
            "interrupted while connecting to 127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
  EXPECT_LT(attempt.took, 1500ms);
}
#endif

} // namespace
} // namespace kv58
