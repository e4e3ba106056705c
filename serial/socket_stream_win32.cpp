#include "serial/socket_stream.h"

namespace kv58 {

// The Winsock connection is not built yet: network port names are refused with this reason
// rather than taken for a COM port the system does not have.
std::unique_ptr<ByteStream> ConnectSocket(const NetworkPort& /*port*/, std::chrono::milliseconds /*timeout*/,
                                          std::string& error) {
  error = "network ports are not supported by the Windows build yet (a vendor's virtual COM driver works)";
  return nullptr;
}

} // namespace kv58
