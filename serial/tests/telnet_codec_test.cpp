// The Telnet layer: 0xFF doubled out and un-doubled in, commands told apart from data
// whatever pieces the server's bytes arrive in, and nothing held without bound.

#include "serial/telnet_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kv58::telnet {
namespace {

using namespace std::string_literals;

std::string Describe(const Command& command) {
  std::string text = std::to_string(command.verb) + "/" + std::to_string(command.option);
  if (command.verb == kSb) {
    text += " [" + command.payload + "]";
  }
  return text;
}

struct Split {
  std::string data;
  std::vector<std::string> commands;
};

// The server's bytes fed in pieces of `piece` bytes.
Split Read(const std::string& bytes, std::size_t piece) {
  Reader reader;
  Split split;
  std::vector<Command> commands;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    reader.Feed(std::string_view(bytes).substr(at, piece), split.data, commands);
  }
  for (const auto& command : commands) {
    split.commands.push_back(Describe(command));
  }
  return split;
}

TEST(TelnetCodecTest, DataGoesOutWithEveryFFDoubled) {
  EXPECT_EQ(EscapeData("\xFF\x03\x04"s), "\xFF\xFF\x03\x04"s) << "a frame of ours starts with 0xFF";
  EXPECT_EQ(EscapeData("\xFF\xFF"s), "\xFF\xFF\xFF\xFF"s);
  EXPECT_EQ(EscapeData("Hi\r"s), "Hi\r"s);
  EXPECT_EQ(OptionCommand(kWill, kComPortOption), "\xFF\xFB\x2C"s);
  // SET-BAUDRATE 65535: the value's 0xFF bytes are doubled inside the subnegotiation too.
  EXPECT_EQ(Subnegotiation(kComPortOption, "\x01\x00\x00\xFF\xFF"s),
            "\xFF\xFA\x2C\x01\x00\x00\xFF\xFF\xFF\xFF\xFF\xF0"s);
}

// ser2net's opening, a reply to SET-BAUDRATE and an unasked modem state, with the display's
// bytes among them; every way of cutting them into pieces gives the same result.
TEST(TelnetCodecTest, CommandsAndDataAreToldApartWhateverThePieces) {
  const std::string server = "\xFF\xFB\x03\xFF\xFD\x00"s + "OK\xFF\xFF\r\n"s +
                             "\xFF\xFA\x2C\x65\x00\x00\x25\x80\xFF\xF0"s + "\xFF\xFA\x2C\x6B\x30\xFF\xF0"s +
                             "\xFF\xF1"s + "!"s;
  for (std::size_t piece = 1; piece <= server.size(); ++piece) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    const Split split = Read(server, piece);
    EXPECT_EQ(split.data, "OK\xFF\r\n!"s);
    EXPECT_THAT(split.commands,
                ::testing::ElementsAre("251/3", "253/0", "250/44 [e\x00\x00%\x80]"s, "250/44 [k0]"));
  }
}

TEST(TelnetCodecTest, AnEndlessSubnegotiationIsCutAndTheDataAfterItStillArrives) {
  const std::string server = "\xFF\xFA\x2C"s + std::string(100000, 'x') + "\xFF\xFF\xFF\xF0"s + "data"s;
  const Split split = Read(server, 4096);
  EXPECT_THAT(split.commands,
              ::testing::ElementsAre("250/44 [" + std::string(Reader::kMaxPayloadBytes, 'x') + "]"));
  EXPECT_EQ(split.data, "data");
}

} // namespace
} // namespace kv58::telnet
