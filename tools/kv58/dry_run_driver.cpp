#include "tools/kv58/dry_run_driver.h"

#include "protocol/device_command.h"
#include "tools/kv58/hex_text.h"

namespace kv58::cli {
namespace {

constexpr PortHandle kDryHandle = 1;

} // namespace

Pause DryRunDriver::PrintingPause() {
  return [this](std::uint32_t milliseconds) {
    EndLine();
    out_ << "pause " << milliseconds << " ms\n";
  };
}

void DryRunDriver::EndLine() {
  if (lineOpen_) {
    out_ << '\n';
    lineOpen_ = false;
  }
}

PortHandle DryRunDriver::CreateFileA(std::string_view /*portName*/) { return kDryHandle; }

bool DryRunDriver::CloseHandle(PortHandle /*handle*/) {
  EndLine();
  return true;
}

bool DryRunDriver::GetCommState(PortHandle /*handle*/, DCB& /*dcb*/) { return true; }

bool DryRunDriver::SetCommState(PortHandle /*handle*/, const DCB& /*dcb*/) { return true; }

bool DryRunDriver::SetCommTimeouts(PortHandle /*handle*/, const COMMTIMEOUTS& /*timeouts*/) { return true; }

bool DryRunDriver::SetupComm(PortHandle /*handle*/, std::uint32_t /*inQueue*/, std::uint32_t /*outQueue*/) {
  return true;
}

bool DryRunDriver::ClearCommError(PortHandle /*handle*/, std::uint32_t& errors, COMSTAT& status) {
  errors = 0;
  status = COMSTAT{}; // nothing received, nothing waiting to go out
  return true;
}

bool DryRunDriver::ReadFile(PortHandle /*handle*/, void* /*buffer*/, std::uint32_t /*count*/,
                            std::uint32_t& read) {
  read = 0;
  return true;
}

bool DryRunDriver::WriteFile(PortHandle /*handle*/, const void* buffer, std::uint32_t count,
                             std::uint32_t& written) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  const bool startsSomething = count > 1 || (count == 1 && bytes[0] == kCommandMarker);
  if (startsSomething) {
    EndLine();
  }
  if (count > 0) {
    out_ << (lineOpen_ ? " " : "") << HexLine(std::string_view(static_cast<const char*>(buffer), count));
    lineOpen_ = true;
  }
  written = count;
  return true;
}

} // namespace kv58::cli
