// The controller's entry: build the application and the window, run until the window closes.

#include <QApplication>
#include <algorithm>

#include "app/application.h"

int main(int argc, char* argv[]) {
  // The program takes no arguments. Qt is shown only the program's name, so its own options
  // (-reverse, -title, -style, -platform, ...) change nothing; its environment variables,
  // such as QT_QPA_PLATFORM, still apply.
  int programNameOnly = std::min(argc, 1);
  QApplication application(programNameOnly, argv);
  return kv58::RunController();
}
