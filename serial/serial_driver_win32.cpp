#include "serial/serial_driver_win32.h"

#include "serial/system_message_win32.h"

// After our own headers: <windows.h> defines NOPARITY and its kin as macros, which would
// clash with the constants of comm_records.h.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <chrono>

namespace kv58 {
namespace {

HANDLE ToWin32(PortHandle handle) { return reinterpret_cast<HANDLE>(handle); }

PortHandle FromWin32(HANDLE handle) { return reinterpret_cast<PortHandle>(handle); }

OpenFailure OpenFailureOf(DWORD error) {
  switch (error) {
  case ERROR_SUCCESS:
    return OpenFailure{OpenFailure::Kind::NoSuchPort, {}};
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
    return OpenFailure{OpenFailure::Kind::Missing, {}};
  case ERROR_ACCESS_DENIED: // what a port held by another program answers
  case ERROR_SHARING_VIOLATION:
    return OpenFailure{OpenFailure::Kind::InUse, {}};
  default:
    return OpenFailure{OpenFailure::Kind::Other, SystemMessage(error)};
  }
}

// A drain with time-outs of 0 (none) still ends: a line stopped by flow control is not waited
// for without end.
constexpr std::chrono::milliseconds kShortestDrain{1000};
constexpr std::uint32_t kOneBitMax = 1;
constexpr std::uint32_t kTwoBitsMax = 3;

// The flag members live in bit-fields of one or two bits in the real DCB. A value that does
// not fit would be cut to another setting, so such a DCB is refused instead.
bool FlagsFitBitFields(const DCB& dcb) {
  const std::uint32_t oneBitFlags[] = {
      dcb.fBinary,           dcb.fParity, dcb.fOutxCtsFlow, dcb.fOutxDsrFlow, dcb.fDsrSensitivity,
      dcb.fTXContinueOnXoff, dcb.fOutX,   dcb.fInX,         dcb.fErrorChar,   dcb.fNull,
      dcb.fAbortOnError};
  for (const auto flag : oneBitFlags) {
    if (flag > kOneBitMax) {
      return false;
    }
  }
  return dcb.fDtrControl <= kTwoBitsMax && dcb.fRtsControl <= kTwoBitsMax;
}

::DCB ToWin32(const DCB& ours) {
  ::DCB real{};
  real.DCBlength = sizeof(::DCB);
  real.BaudRate = ours.BaudRate;
  real.fBinary = ours.fBinary & kOneBitMax;
  real.fParity = ours.fParity & kOneBitMax;
  real.fOutxCtsFlow = ours.fOutxCtsFlow & kOneBitMax;
  real.fOutxDsrFlow = ours.fOutxDsrFlow & kOneBitMax;
  real.fDtrControl = ours.fDtrControl & kTwoBitsMax;
  real.fDsrSensitivity = ours.fDsrSensitivity & kOneBitMax;
  real.fTXContinueOnXoff = ours.fTXContinueOnXoff & kOneBitMax;
  real.fOutX = ours.fOutX & kOneBitMax;
  real.fInX = ours.fInX & kOneBitMax;
  real.fErrorChar = ours.fErrorChar & kOneBitMax;
  real.fNull = ours.fNull & kOneBitMax;
  real.fRtsControl = ours.fRtsControl & kTwoBitsMax;
  real.fAbortOnError = ours.fAbortOnError & kOneBitMax;
  real.XonLim = ours.XonLim;
  real.XoffLim = ours.XoffLim;
  real.ByteSize = ours.ByteSize;
  real.Parity = ours.Parity;
  real.StopBits = ours.StopBits;
  real.XonChar = ours.XonChar;
  real.XoffChar = ours.XoffChar;
  real.ErrorChar = ours.ErrorChar;
  real.EofChar = ours.EofChar;
  real.EvtChar = ours.EvtChar;
  return real;
}

void CopyFromWin32(const ::DCB& real, DCB& ours) {
  ours.DCBlength = real.DCBlength;
  ours.BaudRate = real.BaudRate;
  ours.fBinary = real.fBinary;
  ours.fParity = real.fParity;
  ours.fOutxCtsFlow = real.fOutxCtsFlow;
  ours.fOutxDsrFlow = real.fOutxDsrFlow;
  ours.fDtrControl = real.fDtrControl;
  ours.fDsrSensitivity = real.fDsrSensitivity;
  ours.fTXContinueOnXoff = real.fTXContinueOnXoff;
  ours.fOutX = real.fOutX;
  ours.fInX = real.fInX;
  ours.fErrorChar = real.fErrorChar;
  ours.fNull = real.fNull;
  ours.fRtsControl = real.fRtsControl;
  ours.fAbortOnError = real.fAbortOnError;
  ours.XonLim = real.XonLim;
  ours.XoffLim = real.XoffLim;
  ours.ByteSize = real.ByteSize;
  ours.Parity = real.Parity;
  ours.StopBits = real.StopBits;
  ours.XonChar = real.XonChar;
  ours.XoffChar = real.XoffChar;
  ours.ErrorChar = real.ErrorChar;
  ours.EofChar = real.EofChar;
  ours.EvtChar = real.EvtChar;
}

::COMMTIMEOUTS ToWin32(const COMMTIMEOUTS& ours) {
  ::COMMTIMEOUTS real{};
  real.ReadIntervalTimeout = ours.ReadIntervalTimeout;
  real.ReadTotalTimeoutMultiplier = ours.ReadTotalTimeoutMultiplier;
  real.ReadTotalTimeoutConstant = ours.ReadTotalTimeoutConstant;
  real.WriteTotalTimeoutMultiplier = ours.WriteTotalTimeoutMultiplier;
  real.WriteTotalTimeoutConstant = ours.WriteTotalTimeoutConstant;
  return real;
}

void CopyFromWin32(const ::COMSTAT& real, COMSTAT& ours) {
  ours.fCtsHold = real.fCtsHold;
  ours.fDsrHold = real.fDsrHold;
  ours.fRlsdHold = real.fRlsdHold;
  ours.fXoffHold = real.fXoffHold;
  ours.fXoffSent = real.fXoffSent;
  ours.fEof = real.fEof;
  ours.fTxim = real.fTxim;
  ours.cbInQue = real.cbInQue;
  ours.cbOutQue = real.cbOutQue;
}

} // namespace

std::string DevicePathForPort(std::string_view portName) { return "\\\\.\\" + std::string(portName); }

PortHandle Win32SerialDriver::CreateFileA(std::string_view portName) {
  const std::string path = DevicePathForPort(portName);
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0 /* no sharing */, nullptr,
                                      OPEN_EXISTING, 0 /* not overlapped */, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    lastOpenFailure_ = OpenFailureOf(::GetLastError());
    return 0;
  }
  lastOpenFailure_ = OpenFailure{};
  return FromWin32(handle);
}

bool Win32SerialDriver::CloseHandle(PortHandle handle) { return ::CloseHandle(ToWin32(handle)) != FALSE; }

bool Win32SerialDriver::GetCommState(PortHandle handle, DCB& dcb) {
  ::DCB real{};
  real.DCBlength = sizeof(::DCB);
  if (::GetCommState(ToWin32(handle), &real) == FALSE) {
    return false;
  }
  CopyFromWin32(real, dcb);
  return true;
}

bool Win32SerialDriver::SetCommState(PortHandle handle, const DCB& dcb) {
  if (!FlagsFitBitFields(dcb)) {
    return false;
  }
  ::DCB real = ToWin32(dcb);
  return ::SetCommState(ToWin32(handle), &real) != FALSE;
}

bool Win32SerialDriver::SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) {
  ::COMMTIMEOUTS real = ToWin32(timeouts);
  return ::SetCommTimeouts(ToWin32(handle), &real) != FALSE;
}

bool Win32SerialDriver::SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) {
  return ::SetupComm(ToWin32(handle), inQueue, outQueue) != FALSE;
}

bool Win32SerialDriver::ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) {
  DWORD realErrors = 0;
  ::COMSTAT realStatus{};
  if (::ClearCommError(ToWin32(handle), &realErrors, &realStatus) == FALSE) {
    return false;
  }
  errors = realErrors;
  CopyFromWin32(realStatus, status);
  return true;
}

bool Win32SerialDriver::ReadFile(PortHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) {
  DWORD done = 0;
  const bool ok = ::ReadFile(ToWin32(handle), buffer, count, &done, nullptr) != FALSE;
  read = done;
  return ok;
}

bool Win32SerialDriver::WriteFile(PortHandle handle, const void* buffer, std::uint32_t count,
                                  std::uint32_t& written) {
  DWORD done = 0;
  const bool ok = ::WriteFile(ToWin32(handle), buffer, count, &done, nullptr) != FALSE;
  written = done;
  return ok;
}

bool Win32SerialDriver::FlushFileBuffers(PortHandle handle) {
  // FlushFileBuffers itself waits without a bound, also on a line that flow control has
  // stopped: first the driver's queue is watched, within the write time-outs for what it holds.
  const HANDLE port = ToWin32(handle);
  ::COMMTIMEOUTS timeouts{};
  ::COMSTAT status{};
  DWORD errors = 0;
  if (::GetCommTimeouts(port, &timeouts) == FALSE || ::ClearCommError(port, &errors, &status) == FALSE) {
    return false;
  }
  const auto bound =
      std::chrono::milliseconds(std::int64_t{timeouts.WriteTotalTimeoutMultiplier} * status.cbOutQue +
                                timeouts.WriteTotalTimeoutConstant);
  const auto deadline = std::chrono::steady_clock::now() + std::max(bound, kShortestDrain);
  while (status.cbOutQue > 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    ::Sleep(1);
    if (::ClearCommError(port, &errors, &status) == FALSE) {
      return false;
    }
  }
  return ::FlushFileBuffers(port) != FALSE;
}

} // namespace kv58
