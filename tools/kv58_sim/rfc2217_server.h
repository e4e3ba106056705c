#pragma once
// The device server's side of Telnet with RFC 2217 (COM-PORT-OPTION), for one client: it
// offers its options first, agrees to BINARY, SUPPRESS-GO-AHEAD and COM-PORT-OPTION and
// refuses the rest, answers every line-setting command with the value it then holds, and
// hands the display's bytes on with the client's doubled 0xFF made single again. Pure: bytes
// in, bytes out, nothing waits.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serial/telnet_codec.h"
#include "tools/kv58_sim/sim_event.h"

namespace kv58::sim {

class Rfc2217Server {
public:
  Rfc2217Server();

  // What the server says as soon as a client connects, before it hears anything.
  [[nodiscard]] std::string Greeting() const;

  // Takes the client's next bytes, in any pieces: the display's bytes are appended to `data`,
  // the answers to the client's commands to `answers`.
  void Feed(std::string_view bytes, std::string& data, std::string& answers);

  // The display's bytes as they go to the client: every 0xFF doubled.
  [[nodiscard]] static std::string ToClient(std::string_view data) { return telnet::EscapeData(data); }

  // The line once the client has set its rate, data size, parity and stop size (a query is no
  // setting); each whole setting is given once.
  [[nodiscard]] std::optional<SerialLine> TakeLineSettings();

  // The client asked the server to hold back what the display sends (FLOWCONTROL-SUSPEND).
  [[nodiscard]] bool SendingSuspended() const { return suspended_; }

private:
  // RFC 1143's states for one side of an option, without the queue.
  enum class Side : std::uint8_t { No, Yes, WantYes };

  void Negotiate(std::uint8_t verb, std::uint8_t option, std::string& answers);
  void Subnegotiate(std::string_view payload, std::string& answers);
  [[nodiscard]] std::uint8_t TakeControl(std::uint8_t value);

  telnet::Reader reader_;
  std::array<Side, 256> ours_{};   // options the server uses (its WILL/WONT, the client's DO/DONT)
  std::array<Side, 256> theirs_{}; // options the client uses (its WILL/WONT, the server's DO/DONT)

  SerialLine line_;
  unsigned setThisRound_ = 0; // one bit per setting the client made since the line was last given
  bool lineDue_ = false;
  std::uint8_t outboundFlow_ = 1; // SET-CONTROL's values in force, one a group
  std::uint8_t inboundFlow_ = 14;
  std::uint8_t breakState_ = 6;
  std::uint8_t dtr_ = 8;
  std::uint8_t rts_ = 11;
  bool suspended_ = false;
};

} // namespace kv58::sim
