#include "protocol/line_settings.h"

#include "serial/com_socket.h"

namespace kv58 {

void SetDeviceLineSettings(TCOMSocket& port, std::int32_t baudRate) {
  DCB& dcb = port.Dcb;
  dcb.BaudRate = static_cast<std::uint32_t>(baudRate);
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDsrSensitivity = 0;
  dcb.fAbortOnError = 0;
  dcb.fBinary = 1;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;

  port.InQueueSize = 1024;
  port.OutQueueSize = 1024;

  COMMTIMEOUTS& timeouts = port.Timeouts;
  timeouts.ReadIntervalTimeout = 100;
  timeouts.ReadTotalTimeoutMultiplier = 10;
  timeouts.ReadTotalTimeoutConstant = 100;
  timeouts.WriteTotalTimeoutMultiplier = 10;
  timeouts.WriteTotalTimeoutConstant = 100;
}

} // namespace kv58
