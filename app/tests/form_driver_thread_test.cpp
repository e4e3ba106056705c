// The window's driver thread seen from the window: each frame of a settings change leaves
// whole from one long-lived thread even while the window's own thread is busy; a thread the
// system would not start fails one connect, not every later one; input made during a step is
// handled after it, or dropped by a close, which no step keeps waiting.

#include <QCheckBox>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/tests/form_harness.h"
#include "app/widgets/combo_box.h"
#include "app/widgets/radio_group.h"
#include "app/widgets/track_bar.h"
#include "common/testing/scratch_dir.h"
#include "protocol/device_command.h"
#include "protocol/text_upload.h"

namespace kv58 {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Clock = std::chrono::steady_clock;

// Long enough for any step of a fake driver; reached only when the window gets it wrong.
constexpr auto kGiveUp = 5s;

// A number per thread that the system never hands out twice, unlike a thread's id.
int ThreadSerial() {
  static std::atomic<int> next{1};
  thread_local const int serial = next++;
  return serial;
}

int CountLinesStartingWith(const std::vector<std::string>& lines, std::string_view start) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                        [&](const std::string& line) { return line.starts_with(start); }));
}

// Holds the first byte of every frame until the window's thread has gone busy, and tells
// that thread when the frame's last byte has been written. A frame whose bytes need the
// window's thread between them (to start a thread, or to hand on the next write) never ends
// while it is busy.
class FrameWatch final : public testing::FakeSerialDriver {
public:
  struct Write {
    int thread = 0;
    std::string bytes;
  };

  bool WriteFile(PortHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t& written) override {
    const bool taken = FakeSerialDriver::WriteFile(handle, buffer, count, written);
    const std::string bytes(static_cast<const char*>(buffer), count);
    std::unique_lock lock(mutex_);
    writes.push_back({ThreadSerial(), bytes});
    frame_ += bytes;
    if (frame_ == std::string(1, static_cast<char>(kCommandMarker))) {
      frameStarted_ = true;
      changed_.notify_all();
      (void)changed_.wait_for(lock, kGiveUp, [this] { return windowBusy_; });
    } else if (frame_.size() >= 2 &&
               frame_.size() == (HasParameter(static_cast<TDeviceCommand>(frame_[1])) ? 3u : 2u)) {
      frame_.clear();
      frameWhole_ = true;
      changed_.notify_all();
    }
    return taken;
  }

  // On the window's thread, from a timer: once a frame has begun, stays busy until its end.
  void KeepTheWindowBusyDuringAFrame() {
    std::unique_lock lock(mutex_);
    if (!frameStarted_) {
      return;
    }
    windowBusy_ = true;
    changed_.notify_all();
    const bool whole = changed_.wait_for(lock, kGiveUp, [this] { return frameWhole_; });
    framesWholeWhileBusy += whole ? 1 : 0;
    frameStarted_ = windowBusy_ = frameWhole_ = false;
  }

  std::vector<Write> writes;
  int framesWholeWhileBusy = 0;

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string frame_;
  bool frameStarted_ = false;
  bool windowBusy_ = false;
  bool frameWhole_ = false;
};

struct SettingsRow {
  const char* name;
  std::function<void(TForm1&)> change;
  std::vector<std::string> frames; // as written, in order
};

TEST(DriverThreadWindowTest,
     EachFrameOfASettingsChangeLeavesWholeFromOneLongLivedThreadWhileTheWindowIsBusy) {
  const std::vector<SettingsRow> rows{
      {"speed", [](TForm1& form) { form.TrackBar1->SetPosition(7); }, {"\xFF\x03\x07"}},
      {"first line past the last, which is dragged along",
       [](TForm1& form) {
         form.TrackBar2->SetPosition(5);
         form.TrackBar3->SetPosition(9);
       },
       {"\xFF\x05\x05", "\xFF\x05\x09", "\xFF\x04\x09"}},
      {"scroll type and its reset",
       [](TForm1& form) { form.RadioGroup1->SetItemIndex(2); },
       {"\xFF\x06\x02", "\xFF\x09"}},
      {"store", [](TForm1& form) { form.Button1Click(); }, {"\xFF\x08"}},
      {"reset", [](TForm1& form) { form.Button2Click(); }, {"\xFF\x09"}},
  };
  FrameWatch driver;
  testing::FormHarness harness;
  harness.Create("no-such-dir/lang.txt", &driver);
  harness.Connect();
  ASSERT_TRUE(harness.form->ComPort.IsOpen());
  QTimer busy;
  QObject::connect(&busy, &QTimer::timeout, &busy, [&driver] { driver.KeepTheWindowBusyDuringAFrame(); });
  busy.start(1);

  std::set<int> threads;
  for (const SettingsRow& row : rows) {
    SCOPED_TRACE(row.name);
    driver.writes.clear();
    driver.framesWholeWhileBusy = 0;
    row.change(*harness.form);

    std::vector<std::string> frames;
    for (const auto& write : driver.writes) {
      EXPECT_EQ(write.bytes.size(), 1u) << "one byte per Write, as ever";
      if (frames.empty() || write.bytes[0] == static_cast<char>(kCommandMarker)) {
        frames.emplace_back();
      }
      frames.back() += write.bytes;
      threads.insert(write.thread);
    }
    EXPECT_THAT(frames, ElementsAreArray(row.frames));
    EXPECT_EQ(driver.framesWholeWhileBusy, static_cast<int>(row.frames.size()))
        << "every frame ended while the window's thread was busy elsewhere";
  }
  EXPECT_EQ(threads.size(), 1u) << "one thread for every frame of every change";
  EXPECT_FALSE(threads.contains(ThreadSerial())) << "not the window's";
}

TEST(DriverThreadWindowTest, AThreadTheSystemWouldNotStartFailsThatConnectAloneAndTheNextConnectOpens) {
  bool refuse = true;
  testing::FormHarness harness;
  harness.startThread = [&refuse](std::function<void()> body) {
    if (refuse) {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                              "thread limit");
    }
    return std::thread(std::move(body));
  };
  harness.Create();
  harness.driver.ClearRecord();
  const std::size_t before = harness.Log().size();

  harness.Connect();
  const std::vector<std::string> failed(harness.Log().begin() + static_cast<std::ptrdiff_t>(before),
                                        harness.Log().end());
  ASSERT_FALSE(failed.empty());
  EXPECT_TRUE(failed.front().starts_with(TForm1::kNoDriverThreadText)) << failed.front();
  EXPECT_NE(failed.front().find("thread limit"), std::string::npos) << "the system's words";
  EXPECT_THAT(std::vector(failed.begin() + 1, failed.end()),
              ElementsAre(std::string(TForm1::kOpenFailedText), "PORT_NIEPOLACZONY"));
  EXPECT_FALSE(harness.form->CheckBoxConnect->isChecked());
  EXPECT_EQ(harness.driver.CountOf("CreateFileA"), 0u);

  refuse = false;
  harness.Connect();
  EXPECT_TRUE(harness.form->ComPort.IsOpen());
  EXPECT_TRUE(harness.form->CheckBoxConnect->isChecked());
  EXPECT_EQ(harness.driver.CountOf("CreateFileA"), 1u);
}

// A device server that accepts and then says nothing: an open waits until the window asks
// the device's waits to end, or it gives up on its own after kGiveUp.
class SilentServer final : public testing::FakeSerialDriver {
public:
  PortHandle CreateFileA(std::string_view portName) override {
    {
      std::unique_lock lock(mutex_);
      opens.push_back(Clock::now());
      (void)released_.wait_for(lock, kGiveUp, [this] { return stopped_; });
    }
    absentPorts.insert(std::string(portName));
    return FakeSerialDriver::CreateFileA(portName);
  }
  void StopWaits() {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    released_.notify_all();
  }
  [[nodiscard]] std::vector<Clock::time_point> Opens() {
    const std::lock_guard lock(mutex_);
    return opens;
  }

private:
  std::mutex mutex_;
  std::condition_variable released_;
  std::vector<Clock::time_point> opens;
  bool stopped_ = false;
};

TEST(DriverThreadWindowTest,
     ACloseAfterTwentyClicksHeldBehindAnOpenEndsWithinThreeSecondsOpensNothingMoreAndSaysSoOnce) {
  SilentServer server;
  testing::FormHarness harness;
  harness.stopDeviceWaits = [&server] { server.StopWaits(); };
  harness.Create("no-such-dir/lang.txt", &server);
  harness.form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(harness.form.get()));

  Clock::time_point closeAsked;
  QTimer::singleShot(200, harness.form.get(), [&] {
    for (int click = 0; click < 20; ++click) {
      QTest::mouseClick(harness.form->CheckBoxConnect, Qt::LeftButton);
    }
    closeAsked = Clock::now();
    harness.form->close();
  });
  harness.Connect(QStringLiteral("rfc2217://192.0.2.1:4001"));
  const auto handlerDone = Clock::now();
  QTest::qWait(300); // anything still held would be handed on now

  ASSERT_NE(closeAsked, Clock::time_point()) << "the close came during the open";
  EXPECT_FALSE(harness.form->isVisible());
  EXPECT_LT(handlerDone - closeAsked, 3s) << "the open on its way ended soon after the close";
  const auto opens = server.Opens();
  EXPECT_EQ(opens.size(), 1u);
  EXPECT_EQ(std::count_if(opens.begin(), opens.end(), [&](auto at) { return at > closeAsked; }), 0)
      << "no open after the close";
  EXPECT_EQ(CountLinesStartingWith(harness.Log(), TForm1::kInputDroppedText), 1);
  EXPECT_THAT(harness.Log(), ::testing::Contains(std::string(TForm1::kInputDroppedText) + "20"));
  EXPECT_FALSE(harness.form->CheckBoxConnect->isChecked());
}

TEST(DriverThreadWindowTest, AClickMadeDuringAStepIsHandledAfterItAsTheUserMadeIt) {
  SilentServer server;
  testing::FormHarness harness;
  harness.Create("no-such-dir/lang.txt", &server);
  harness.form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(harness.form.get()));

  bool clicked = false;
  QTimer::singleShot(200, harness.form.get(), [&] {
    const QCheckBox* box = harness.form->CheckBoxConnect;
    QTest::mouseClick(harness.form->windowHandle(), Qt::LeftButton, {},
                      box->mapTo(harness.form.get(), box->rect().center()));
    clicked = true;
    server.StopWaits(); // the open fails
  });
  harness.Connect(QStringLiteral("rfc2217://192.0.2.1:4001"));
  ASSERT_TRUE(clicked);
  EXPECT_EQ(server.Opens().size(), 1u) << "the click waited for the step";
  EXPECT_FALSE(harness.form->CheckBoxConnect->isChecked());

  EXPECT_TRUE(QTest::qWaitFor([&] { return server.Opens().size() == 2; }, 2000))
      << "then it ticked the box again, and the window tried again";
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
  EXPECT_FALSE(harness.form->isVisible()) << "closed once the text has its end";

  EXPECT_EQ(harness.driver.sent, "\xFF\x07" + std::string(kPageBytes, 'x') + std::string(1, '\0'))
      << "the first page, then the end of the text";
  EXPECT_EQ(harness.Pauses(), std::vector<std::uint32_t>{kPagePauseMs}) << "the page's pause is kept";
  EXPECT_EQ(harness.Log().back(), TextSentLine(kPageBytes));
}

} // namespace
} // namespace kv58
