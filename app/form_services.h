#pragma once
// What the window needs from the outside world, handed in so that tests can replace each
// piece: the serial driver behind ComPort, the source of the port list, the dialogs, the
// pause used between device commands, the language file to read, how the driver's thread is
// started, and what asks the device's waits to end when the window closes.

#include <filesystem>
#include <functional>

#include "protocol/pause.h"
#include "serial/driver_thread.h"

namespace kv58 {

class SerialDriver;
class PortSource;
class Prompts;

struct FormServices {
  SerialDriver& serialDriver;
  PortSource& portSource;
  Prompts& prompts;
  Pause pause;
  std::filesystem::path languageFile = "lang.txt";
  DriverThread::Starter startThread = DriverThread::StartSystemThread;
  // Called when the window is closed while no text is on its way: a step still running (a
  // connect to a silent server) then ends soon, instead of at its own time-out.
  std::function<void()> stopDeviceWaits = [] {};
};

} // namespace kv58
