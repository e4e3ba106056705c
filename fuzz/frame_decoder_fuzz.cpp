// What the simulator receives on its line, in chunks at any times: every byte must end up in
// exactly one event, whatever the bytes and the gaps between them.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tools/kv58_sim/frame_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  kv58::sim::DecoderLimits limits;
  limits.maxKeptBytes = 64; // small, so the bound is reached often
  kv58::sim::FrameDecoder decoder(limits);
  kv58::sim::Millis now = 0;
  std::size_t at = 0;
  // Each chunk: one byte of gap (in 10 ms steps), one byte of length, then the bytes.
  while (at + 2 <= size) {
    now += static_cast<kv58::sim::Millis>(bytes[at]) * 10;
    const std::size_t length = std::min<std::size_t>(bytes[at + 1], size - at - 2);
    decoder.Expire(now);
    decoder.Feed(std::string_view(reinterpret_cast<const char*>(bytes + at + 2), length), now);
    at += 2 + length;
  }
  decoder.Hangup(now + 1);
  (void)decoder.TakeEvents();
  return 0;
}
