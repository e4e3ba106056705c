// The controller's entry: build the application and the window, run until the window closes.

#include <QApplication>

#include "app/application.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  return kv58::RunController();
}
