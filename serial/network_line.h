#pragma once
// A display behind a serial-to-Ethernet device server, as a serial line: the TCP connection
// to the server, and for rfc2217:// the Telnet COM-PORT-OPTION on it, which carries the line
// settings. The connection itself comes through a ByteStream (POSIX sockets or Winsock).
//
// Every wait is bounded: each negotiation step by kStepTimeout, a write by its deadline. A
// write returns only once the server has taken the bytes, so the device's pauses start when
// the bytes have left for the display, not when the kernel queued them.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "serial/network_port.h"
#include "serial/telnet_codec.h"

namespace kv58 {

using SteadyClock = std::chrono::steady_clock;

class ByteStream {
public:
  virtual ~ByteStream() = default;
  // Sends all of `bytes` by `deadline`; false on a failed or closed connection, or at the deadline.
  [[nodiscard]] virtual bool SendAll(std::string_view bytes, SteadyClock::time_point deadline) = 0;
  // Appends what has arrived, waiting for something until `deadline` (a past one: no wait).
  // False once the peer has closed the connection or it failed.
  [[nodiscard]] virtual bool Receive(std::string& into, SteadyClock::time_point deadline) = 0;
  // Waits until the peer has acknowledged every byte sent; false at the deadline. A system
  // that cannot tell answers true at once.
  [[nodiscard]] virtual bool WaitAcknowledged(SteadyClock::time_point deadline) = 0;

protected:
  ByteStream() = default;
  ByteStream(const ByteStream&) = default;
  ByteStream& operator=(const ByteStream&) = default;
};

// Connects to the port's host within `timeout`: the stream, or none with the reason in `error`.
using StreamConnector = std::function<std::unique_ptr<ByteStream>(
    const NetworkPort& port, std::chrono::milliseconds timeout, std::string& error)>;

class NetworkLine {
public:
  static constexpr std::chrono::milliseconds kStepTimeout{3000};
  // The display's bytes kept until read; a server that sends more than this between two reads
  // loses the oldest, as a serial driver's full input queue would.
  static constexpr std::size_t kMaxReceivedBytes = 64 * 1024;

  // Connects and, for RFC 2217, agrees on COM-PORT-OPTION and BINARY both ways. None, with
  // the reason in words (naming the step and the host), when that fails, or when the server
  // is found to speak the other mode or to be in use by another client.
  [[nodiscard]] static std::unique_ptr<NetworkLine> Open(const NetworkPort& port,
                                                         const StreamConnector& connect, std::string& error);

  // RFC 2217: SET-BAUDRATE `baudRate`, 8 data bits, no parity, one stop bit, no flow control,
  // waiting for the server's answer to the rate. `note` says what the server holds when it
  // answers other values. Raw TCP cannot carry settings: true, with a note saying so.
  [[nodiscard]] bool ApplyLineSettings(std::uint32_t baudRate, std::string& note);

  // Sends `bytes` to the display and waits until the server has taken them, by `deadline`.
  // The count sent, all or nothing.
  [[nodiscard]] std::uint32_t Write(std::string_view bytes, SteadyClock::time_point deadline);
  // The display's bytes received and not yet read; takes in what has arrived without waiting.
  [[nodiscard]] std::uint32_t Available();
  [[nodiscard]] std::uint32_t Read(char* buffer, std::uint32_t capacity);
  // Whether the connection still stands.
  [[nodiscard]] bool Alive();
  // Before closing: waits, bounded, until the server has passed on what it was sent. A server
  // closes the device when its client goes, and may drop what it has not yet written to it.
  void Finish();

  [[nodiscard]] const NetworkPort& Port() const { return port_; }

private:
  NetworkLine(NetworkPort port, std::unique_ptr<ByteStream> stream);

  [[nodiscard]] bool Negotiate(std::string& error);
  [[nodiscard]] bool CheckRawServer(std::string& error);
  // Waits until the server has taken every byte sent, by `deadline`: on RFC 2217 by the
  // answer to a query of the rate, on raw TCP by the socket's acknowledgement.
  [[nodiscard]] bool ServerTookEverything(SteadyClock::time_point deadline);
  // Takes in what has arrived until `deadline`; false once the connection is gone.
  [[nodiscard]] bool Pump(SteadyClock::time_point deadline);
  void Take(std::string_view bytes);
  void Answer(const telnet::Command& command);
  void TakeComPortAnswer(std::string_view payload);
  [[nodiscard]] std::string Where() const;
  [[nodiscard]] std::string InUseOrClosed() const;

  NetworkPort port_;
  std::unique_ptr<ByteStream> stream_;
  telnet::Reader reader_;
  std::string received_;
  bool alive_ = true;
  bool flowSuspended_ = false;
  // What the server said during negotiation.
  bool comPortAccepted_ = false;
  bool comPortRefused_ = false;
  bool binaryToServer_ = false;
  bool binaryFromServer_ = false;
  bool binaryRefused_ = false;
  bool sawRawData_ = false; // bytes that are no Telnet before COM-PORT-OPTION was agreed
  std::set<std::pair<std::uint8_t, std::uint8_t>> said_; // (verb, option) we have sent
  std::optional<std::uint32_t> baudAnswer_;
};

} // namespace kv58
