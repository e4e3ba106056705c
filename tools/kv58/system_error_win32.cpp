#include "tools/kv58/system_error.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kv58::cli {
namespace {

std::string SystemMessage(DWORD error) {
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

} // namespace

void ClearSystemError() { ::SetLastError(ERROR_SUCCESS); }

int LastSystemError() { return static_cast<int>(::GetLastError()); }

std::string OpenFailureReason(int error) {
  switch (static_cast<DWORD>(error)) {
  case ERROR_SUCCESS:
    return "no device has that name";
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
    return "it does not exist";
  case ERROR_ACCESS_DENIED: // what a port held by another program answers
  case ERROR_SHARING_VIOLATION:
    return "another program is using it";
  default:
    return SystemMessage(static_cast<DWORD>(error));
  }
}

} // namespace kv58::cli
