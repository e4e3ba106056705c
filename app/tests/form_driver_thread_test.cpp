// The window's driver thread seen from the window: frames, a thread that would not start,
// input held during a step, and a close that no step keeps waiting.

#include <QCheckBox>
#include <QCoreApplication>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "app/tests/form_harness.h"
#include "app/widgets/radio_group.h"
#include "app/widgets/track_bar.h"
#include "common/testing/scratch_dir.h"
#include "protocol/device_command.h"
#include "protocol/text_upload.h"

namespace kv58 {
namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Clock = std::chrono::steady_clock;

// A number per thread that the system never hands out twice, unlike a thread's id.
int ThreadSerial() {
  static std::atomic<int> next{1};
  thread_local const int serial = next++;
  return serial;
}

// Polls until `done`, or gives up after 5 s (only when the window gets it wrong).
bool WaitFor(const std::function<bool()>& done) {
  for (const auto end = Clock::now() + 5s; Clock::now() < end; std::this_thread::sleep_for(1ms)) {
    if (done()) {
      return true;
    }
  }
  return false;
}

// Holds each frame after its first byte until the window's thread is busy in a call handed to
// it, which counts the frames that end while it stays so: a frame that needs the window's
// thread between its bytes (to start a thread, or to hand on the next write) cannot.
struct FrameWatch final : testing::FakeSerialDriver {
  bool WriteFile(PortHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t& written) override {
    threads.insert(ThreadSerial());
    frame.append(static_cast<const char*>(buffer), count);
    if (const int n = ended; frame.size() == 1) {
      QMetaObject::invokeMethod(
          qApp,
          [this, n] {
            busyFor = n;
            wholeWhileBusy += WaitFor([&] { return ended > n; }) ? 1 : 0;
          },
          Qt::QueuedConnection);
      (void)WaitFor([&] { return busyFor == n; });
    } else if (frame.size() == (HasParameter(static_cast<TDeviceCommand>(frame[1])) ? 3u : 2u)) {
      frames.push_back(std::exchange(frame, {}));
      ++ended;
    }
    return FakeSerialDriver::WriteFile(handle, buffer, count, written);
  }
  std::string frame;
  std::vector<std::string> frames;
  std::set<int> threads;
  std::atomic<int> ended{0}, busyFor{-1}, wholeWhileBusy{0};
};

TEST(DriverThreadWindowTest, EachFrameOfASettingsChangeLeavesWholeFromOneThreadWhileTheWindowIsBusy) {
  FrameWatch driver;
  testing::FormHarness harness;
  harness.Create("no-such-dir/lang.txt", &driver);
  harness.Connect();
  ASSERT_TRUE(harness.form->ComPort.IsOpen());

  harness.form->TrackBar1->SetPosition(7);
  harness.form->RadioGroup1->SetItemIndex(2); // the scroll type, then a reset
  EXPECT_THAT(driver.frames, ElementsAre("\xFF\x03\x07", "\xFF\x06\x02", "\xFF\x09"));
  EXPECT_EQ(driver.wholeWhileBusy, 3) << "frames that ended while the window's thread was busy";
  EXPECT_EQ(driver.threads.size(), 1u) << "one thread for every frame";
  EXPECT_FALSE(driver.threads.contains(ThreadSerial())) << "not the window's";
}

TEST(DriverThreadWindowTest, AThreadTheSystemWouldNotStartFailsThatConnectAloneAndTheNextConnectOpens) {
  bool refuse = true;
  testing::FormHarness harness;
  harness.startThread = [&refuse](std::function<void()> body) {
    return refuse ? throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                            "thread limit")
                  : std::thread(std::move(body));
  };
  harness.Create();
  harness.Connect();
  EXPECT_THAT(harness.Log(),
              Contains(AllOf(StartsWith(TForm1::kNoDriverThreadText), HasSubstr("thread limit"))));
  EXPECT_FALSE(harness.form->CheckBoxConnect->isChecked());

  refuse = false;
  harness.Connect();
  EXPECT_TRUE(harness.form->ComPort.IsOpen());
  EXPECT_EQ(harness.driver.CountOf("CreateFileA"), 1u) << "the first connect opened nothing";
}

// A device server that accepts and then says nothing: an open fails once the window asks the
// device's waits to end.
struct SilentServer final : testing::FakeSerialDriver {
  PortHandle CreateFileA(std::string_view portName) override {
    ++opens;
    (void)WaitFor([this] { return stopped.load(); });
    return FakeSerialDriver::CreateFileA(portName);
  }
  std::atomic<int> opens{0};
  std::atomic<bool> stopped{false};
};

struct DriverThreadWindowOpenTest : ::testing::Test {
  void SetUp() override {
    server.failing.insert("CreateFileA");
    harness.stopDeviceWaits = [this] { server.stopped = true; };
    harness.Create("no-such-dir/lang.txt", &server);
    harness.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(harness.form.get()));
  }
  void ConnectLater() { harness.Connect(QStringLiteral("rfc2217://192.0.2.1:4001")); }
  SilentServer server;
  testing::FormHarness harness;
};

TEST_F(DriverThreadWindowOpenTest,
       ACloseAfterTwentyClicksHeldBehindAnOpenEndsSoonOpensNothingMoreAndSaysSoOnce) {
  Clock::time_point closeAsked;
  QTimer::singleShot(200, harness.form.get(), [&] {
    for (int click = 0; click < 20; ++click) {
      QTest::mouseClick(harness.form->CheckBoxConnect, Qt::LeftButton);
    }
    closeAsked = Clock::now();
    harness.form->close();
  });
  ConnectLater();
  const auto openEnded = Clock::now();
  QTest::qWait(300); // anything still held would be handed on now

  ASSERT_NE(closeAsked, Clock::time_point()) << "the close came during the open";
  EXPECT_LT(openEnded - closeAsked, 3s);
  EXPECT_EQ(server.opens, 1) << "no open after the close";
  EXPECT_THAT(harness.Log(), Contains(StartsWith(TForm1::kInputDroppedText)).Times(1));
  EXPECT_THAT(harness.Log(), Contains(std::string(TForm1::kInputDroppedText) + "20"));
}

TEST_F(DriverThreadWindowOpenTest, AClickMadeDuringAStepIsHandledAfterIt) {
  QTimer::singleShot(200, harness.form.get(), [&] {
    const QCheckBox* box = harness.form->CheckBoxConnect;
    QTest::mouseClick(harness.form->windowHandle(), Qt::LeftButton, {},
                      box->mapTo(harness.form.get(), box->rect().center()));
    server.stopped = true; // the open fails
  });
  ConnectLater();
  EXPECT_EQ(server.opens, 1) << "the click waited for the step";
  EXPECT_TRUE(QTest::qWaitFor([&] { return server.opens == 2; }, 2000)) << "then ticked the box again";
}

TEST(DriverThreadWindowTest,
     ACloseDuringAnUploadToAServerThatStoppedAnsweringEndsTheTextAfterThePageOnItsWay) {
  testing::ScratchDir scratch;
  const auto file = scratch.Path() / "eight-pages.txt";
  std::ofstream(file, std::ios::binary) << std::string(kMaxTextBytes, 'x');
  testing::FormHarness harness;
  harness.Create();
  harness.Connect();
  harness.form->show();
  harness.prompts.files.emplace_back(file);
  harness.driver.failing.insert("FlushFileBuffers"); // nothing is acknowledged any more
  harness.driver.ClearRecord();
  harness.duringPause = [&](std::uint32_t milliseconds) {
    if (milliseconds == kPagePauseMs && harness.form->isVisible()) {
      harness.form->close(); // in the first page's pause
    }
  };
  harness.form->Button5Click();
  QCoreApplication::processEvents();
  EXPECT_FALSE(harness.form->isVisible());
  EXPECT_EQ(harness.driver.sent, "\xFF\x07" + std::string(kPageBytes, 'x') + std::string(1, '\0'))
      << "the first page, then the end of the text";
  EXPECT_EQ(harness.Log().back(), TextSentLine(kPageBytes));
}

} // namespace
} // namespace kv58
