#pragma once
// What the window needs from the outside world, handed in so that tests can replace each
// piece: the serial driver behind ComPort, the source of the port list, the dialogs, the
// pause used between device commands, and the language file to read.

#include <filesystem>

#include "protocol/pause.h"

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
};

} // namespace kv58
