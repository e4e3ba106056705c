// RFC 2217 payloads from a device server, any bytes at all: reading one never fails, and a
// rate the client asks for, answered by the server as it would be, reads back unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "serial/com_port_option.h"
#include "serial/telnet_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace kv58;
  const std::string_view payload(reinterpret_cast<const char*>(bytes), size);
  (void)rfc2217::ReadServerPayload(payload);

  if (size < 4) {
    return 0;
  }
  const std::uint32_t rate = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                             (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
  // What the client sends, read as the server reads it: one subnegotiation, the rate un-doubled.
  telnet::Reader server;
  std::string data;
  std::vector<telnet::Command> commands;
  server.Feed(rfc2217::SetBaudRate(rate), data, commands);
  if (!data.empty() || commands.size() != 1 || commands[0].payload.size() != 5) {
    std::abort();
  }
  std::string answer = commands[0].payload;
  answer[0] = static_cast<char>(answer[0] + rfc2217::kServerAnswer);
  const rfc2217::ServerNotice notice = rfc2217::ReadServerPayload(answer);
  if (notice.kind != rfc2217::ServerNotice::Kind::BaudRate || notice.baudRate != rate) {
    std::abort();
  }
  return 0;
}
