// What reaches the simulator from outside when it stands in for a device server: the address
// on its command line, and a client's bytes in pieces of any size. An address it reads must
// print as a URL that reads back as the same address; the RFC 2217 side must hand on the same
// data and give the same answers however the bytes are split, never more data than it was
// given, answers that are commands only, and a client's escaped data back unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/telnet_codec.h"
#include "tools/kv58_sim/listen_address.h"
#include "tools/kv58_sim/rfc2217_server.h"

namespace {

using kv58::sim::ListenAddress;
using kv58::sim::Rfc2217Server;
using kv58::sim::SerialLine;

void Require(bool holds) {
  if (!holds) {
    std::abort();
  }
}

void CheckAddressRoundTrip(std::string_view text) {
  const std::optional<ListenAddress> address = kv58::sim::ParseListenAddress(text);
  if (!address) {
    return;
  }
  const std::optional<ListenAddress> again = kv58::sim::ParseListenAddress(kv58::NetworkPortName(*address));
  Require(again && again->mode == address->mode && again->host == address->host &&
          again->port == address->port);
}

struct Heard {
  std::string data;
  std::string answers;
  std::optional<SerialLine> line;
  bool suspended = false;
};

// The client's bytes in pieces whose sizes take turns between `first` and `second`.
Heard FeedInPieces(std::string_view input, std::size_t first, std::size_t second) {
  Rfc2217Server server;
  Heard heard;
  bool turn = false;
  for (std::size_t at = 0; at < input.size(); turn = !turn) {
    const std::string_view piece = input.substr(at, turn ? second : first);
    server.Feed(piece, heard.data, heard.answers);
    at += piece.size();
  }
  heard.line = server.TakeLineSettings();
  heard.suspended = server.SendingSuspended();
  return heard;
}

// A client reading the server's answers finds commands alone, never the display's bytes.
bool CommandsOnly(std::string_view answers) {
  kv58::telnet::Reader reader;
  std::string data;
  std::vector<kv58::telnet::Command> commands;
  reader.Feed(answers, data, commands);
  return data.empty();
}

void CheckServerFeed(std::string_view input, std::uint8_t splitByte) {
  const std::size_t first = 1 + (splitByte >> 4U);
  const std::size_t second = 1 + (splitByte & 0x0FU);
  const Heard split = FeedInPieces(input, first, second);
  const Heard whole = FeedInPieces(input, input.size() + 1, input.size() + 1);
  Require(split.data == whole.data && split.answers == whole.answers && split.line == whole.line &&
          split.suspended == whole.suspended);
  Require(whole.data.size() <= input.size());
  Require(CommandsOnly(whole.answers));

  const Heard escaped = FeedInPieces(kv58::telnet::EscapeData(input), first, second);
  Require(escaped.data == input && escaped.answers.empty() && !escaped.line);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string_view input(reinterpret_cast<const char*>(bytes + 1), size - 1);
  CheckAddressRoundTrip(input);
  CheckServerFeed(input, bytes[0]);
  return 0;
}
