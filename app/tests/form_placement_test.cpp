// Where the window opens: the rule on its own for screens of every common size, and the
// real window on the offscreen screen this run was given (CTest runs it on several).

#include <QGuiApplication>
#include <QScreen>
#include <gtest/gtest.h>

#include "app/tests/form_harness.h"
#include "app/window_placement.h"

namespace kv58 {
namespace {

constexpr QPoint kDesigned{711, 333};
constexpr QSize kWindowsFrame{401, 611}; // the client area with a Windows title bar and borders

struct PlacementRow {
  const char* name;
  std::optional<QRect> area; // of the screen holding the designed point
  QRect primaryArea;
  QPoint expected;
};

TEST(WindowPlacementRule, KeepsTheDesignedPointOnlyWhenTheWholeFrameFits) {
  const QRect fullHd{0, 0, 1920, 1040}; // 40 pixels of task bar below
  const std::vector<PlacementRow> rows = {
      {"1920 x 1080: fits as designed", fullHd, fullHd, {711, 333}},
      {"1366 x 768: up to the task bar", QRect{0, 0, 1366, 728}, {}, {711, 117}},
      {"1280 x 720: up to the task bar", QRect{0, 0, 1280, 680}, {}, {711, 69}},
      {"1024 x 768: up and left", QRect{0, 0, 1024, 728}, {}, {623, 117}},
      {"1024 x 600 netbook: too small, to the top of the area", QRect{0, 0, 1024, 560}, {}, {623, 0}},
      {"1024 x 600 under a top panel: below the panel", QRect{0, 32, 1024, 568}, {}, {623, 32}},
      {"1366 x 768 with the task bar on the left", QRect{62, 0, 1304, 768}, {}, {711, 157}},
      {"a screen left of the primary one", QRect{-1366, 0, 2560, 1400}, {}, {711, 333}},
      {"no screen holds the point: centred on the primary one", std::nullopt, {0, 0, 700, 960}, {149, 174}},
      {"no screen holds the point, the primary one too low: at its top",
       std::nullopt,
       {0, 0, 640, 440},
       {119, 0}},
  };
  for (const auto& [name, area, primaryArea, expected] : rows) {
    SCOPED_TRACE(name);
    EXPECT_EQ(PlaceFrame(kWindowsFrame, kDesigned, area, primaryArea), expected);
  }
}

// Offscreen frames have 2-pixel borders on every side: a frame of 397 x 588.
struct ScreenRow {
  QSize screen;
  QPoint frameTopLeft;
};

TEST(WindowPlacement, TheWholeFrameOpensOnThisScreen) {
  const std::vector<ScreenRow> rows = {
      {{800, 800}, {403, 212}}, // the offscreen default
      {{1920, 1080}, {711, 333}}, {{1366, 768}, {711, 180}},
      {{1280, 720}, {711, 132}},  {{1024, 768}, {627, 180}},
      {{1024, 600}, {627, 12}},   {{640, 480}, {121, 0}}, // no screen holds (711, 333)
  };
  const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
  const QByteArray given = qgetenv("KV58_SCREEN"); // set by the runs on other screens
  if (!given.isEmpty()) {
    ASSERT_EQ(QString::number(screen.width()) + 'x' + QString::number(screen.height()), given)
        << "the offscreen platform did not take the screen it was given";
  }
  const auto row =
      std::find_if(rows.begin(), rows.end(), [&](const ScreenRow& r) { return r.screen == screen; });
  ASSERT_NE(row, rows.end()) << "no row for a screen of " << screen.width() << " x " << screen.height();

  testing::FormHarness harness;
  harness.Create();
  harness.form->show();
  EXPECT_EQ(harness.form->frameGeometry().topLeft(), row->frameTopLeft);
  EXPECT_EQ(harness.form->size(), QSize(393, 584)) << "the client area stays as designed";
}

} // namespace
} // namespace kv58
