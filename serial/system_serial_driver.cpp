// The program's drivers: the platform's own for local ports, the network driver for ports
// behind a device server, one router in front of both.

#include "serial/network_serial_driver.h"
#include "serial/routing_serial_driver.h"
#include "serial/socket_stream.h"
#if defined(_WIN32)
#include "serial/serial_driver_win32.h"
#else
#include "serial/serial_driver_posix.h"
#endif

namespace kv58 {
namespace {

#if defined(_WIN32)
using LocalSerialDriver = Win32SerialDriver;
#else
using LocalSerialDriver = PosixSerialDriver;
#endif

} // namespace

std::unique_ptr<SerialDriver> NewSystemSerialDriver() {
  return std::make_unique<RoutingSerialDriver>(std::make_unique<LocalSerialDriver>(),
                                               std::make_unique<NetworkSerialDriver>(SocketConnector()));
}

SerialDriver& SystemSerialDriver() {
  static const std::unique_ptr<SerialDriver> driver = NewSystemSerialDriver();
  return *driver;
}

} // namespace kv58
