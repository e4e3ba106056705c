// Window tests run the real window on the offscreen platform, inside one application. A run
// may give the offscreen platform its own screens (-platform offscreen:configfile=...).

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (!qgetenv("QT_QPA_PLATFORM").startsWith("offscreen")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
