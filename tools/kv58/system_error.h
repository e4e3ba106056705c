#pragma once
// The reason behind a port that would not open, in words a user acts on. The system's own
// error code is taken right after the failing call. One implementation per platform.

#include <string>

namespace kv58::cli {

// Forgets the calling thread's last error, so that a failure that sets none is told apart.
void ClearSystemError();
// The calling thread's last error: errno, or GetLastError on Windows.
[[nodiscard]] int LastSystemError();
// Why the port did not open, e.g. "it does not exist" or "another program is using it".
[[nodiscard]] std::string OpenFailureReason(int error);

} // namespace kv58::cli
