// The device server's bytes, in pieces of any size: the reader must neither crash nor hold
// more than its bound, any split must read as the whole stream read at once, and data bytes
// must survive an escape and a read back unchanged.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "serial/telnet_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::size_t piece = 1 + bytes[0] % 16;
  const std::string_view input(reinterpret_cast<const char*>(bytes + 1), size - 1);

  kv58::telnet::Reader reader;
  std::string data;
  std::vector<kv58::telnet::Command> commands;
  for (std::size_t at = 0; at < input.size(); at += piece) {
    reader.Feed(input.substr(at, piece), data, commands);
  }
  for (const auto& command : commands) {
    if (command.payload.size() > kv58::telnet::Reader::kMaxPayloadBytes) {
      std::abort();
    }
  }

  kv58::telnet::Reader whole;
  std::string wholeData;
  std::vector<kv58::telnet::Command> wholeCommands;
  whole.Feed(input, wholeData, wholeCommands);
  const auto same = [](const kv58::telnet::Command& a, const kv58::telnet::Command& b) {
    return a.verb == b.verb && a.option == b.option && a.payload == b.payload;
  };
  if (wholeData != data ||
      !std::equal(commands.begin(), commands.end(), wholeCommands.begin(), wholeCommands.end(), same)) {
    std::abort();
  }

  // What we send is read back as the same bytes.
  kv58::telnet::Reader echo;
  std::string back;
  std::vector<kv58::telnet::Command> none;
  echo.Feed(kv58::telnet::EscapeData(input), back, none);
  if (back != input || !none.empty()) {
    std::abort();
  }
  return 0;
}
