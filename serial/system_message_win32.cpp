#include "serial/system_message_win32.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kv58 {

std::string SystemMessage(std::uint32_t error) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length == 0 ? "system error " + std::to_string(error) : std::string(text, length);
  ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

} // namespace kv58
