// A device server that says anything at all, in pieces of any size: the network line opens
// or refuses, answers and reads without crashing, never keeps more of the display's bytes
// than its bound, and never waits once the server has nothing more to say (it hangs up).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "serial/network_line.h"

namespace {

using kv58::ByteStream;
using kv58::SteadyClock;

// The fuzzer's bytes as the server's, handed over in pieces of `piece` bytes; then the server
// hangs up. What the client sends is taken and dropped, as a server's buffers would.
class ScriptedServer final : public ByteStream {
public:
  ScriptedServer(std::string_view script, std::size_t piece) : script_(script), piece_(piece) {}

  bool SendAll(std::string_view /*bytes*/, SteadyClock::time_point /*deadline*/) override { return !done(); }
  bool Receive(std::string& into, SteadyClock::time_point /*deadline*/) override {
    if (done()) {
      return false;
    }
    const std::size_t count = std::min({piece_, script_.size() - at_, kMaxChunkBytes});
    into.append(script_.substr(at_, count));
    at_ += count;
    return true;
  }
  bool WaitAcknowledged(SteadyClock::time_point /*deadline*/) override { return !done(); }

private:
  [[nodiscard]] bool done() const { return at_ >= script_.size(); }

  std::string_view script_;
  std::size_t piece_;
  std::size_t at_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  const auto mode = (bytes[0] & 1) != 0 ? kv58::NetworkPort::Mode::Rfc2217 : kv58::NetworkPort::Mode::Raw;
  const std::size_t piece = 1 + bytes[1] * 64u; // up to a flood of 16 KiB a read
  const std::string_view script(reinterpret_cast<const char*>(bytes + 2), size - 2);
  const kv58::StreamConnector connect = [&](const kv58::NetworkPort&, std::chrono::milliseconds,
                                            kv58::OpenFailure&) {
    return std::unique_ptr<ByteStream>(std::make_unique<ScriptedServer>(script, piece));
  };
  kv58::OpenFailure failure;
  const auto line = kv58::NetworkLine::Open(kv58::NetworkPort{mode, "fuzz", 1}, connect, failure);
  if (!line) {
    return 0;
  }
  std::string note;
  (void)line->ApplyLineSettings(9600, note);
  (void)line->Write("\xFF\x03\x04", SteadyClock::now());
  (void)line->Drain(SteadyClock::now());
  std::string read(1024, '\0');
  while (line->Alive()) {
    if (line->Available() > kv58::NetworkLine::kMaxReceivedBytes) {
      std::abort();
    }
    (void)line->Read(read.data(), static_cast<std::uint32_t>(read.size()));
  }
  return 0;
}
