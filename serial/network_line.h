#pragma once
// A display behind a serial-to-Ethernet device server, as a serial line: the TCP connection
// to the server, and for rfc2217:// the Telnet COM-PORT-OPTION on it, which carries the line
// settings. The connection itself comes through a ByteStream (serial/byte_stream.h); the
// Telnet bytes come from serial/telnet_codec.h, the RFC 2217 payloads from com_port_option.h.
//
// Every wait is bounded: each negotiation step by kStepTimeout, a write and a drain by their
// deadlines. A request of the user's to stop ends the steps of the open (negotiation, line
// settings) at once, kind Interrupted; a write and a drain keep the grace it leaves
// (StopBoundDeadline) so that a text can end whole. A write returns once the connection has the bytes, so a
// frame's bytes travel together; Drain waits until the server has taken them, so the device's pauses start
// when the bytes have left for the display, not when the kernel queued them.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "serial/byte_stream.h"
#include "serial/com_port_option.h"
#include "serial/network_port.h"
#include "serial/open_failure.h"
#include "serial/telnet_codec.h"

namespace kv58 {

class NetworkLine {
public:
  static constexpr std::chrono::milliseconds kStepTimeout = kNetworkStepTimeout;
  // The display's bytes kept until read; a server that sends more than this between two reads
  // loses the oldest, as a serial driver's full input queue would.
  static constexpr std::size_t kMaxReceivedBytes = 64 * 1024;

  // Connects and, for RFC 2217, agrees on COM-PORT-OPTION and BINARY both ways. None, with
  // the kind in `failure` and the step and the host in its detail, when that fails, or when
  // the server is found to speak the other mode or to be in use by another client.
  [[nodiscard]] static std::unique_ptr<NetworkLine>
  Open(const NetworkPort& port, const StreamConnector& connect, OpenFailure& failure);

  // RFC 2217: SET-BAUDRATE `baudRate`, 8 data bits, no parity, one stop bit, no flow control,
  // waiting for the server's answer to the rate. `note` says what the server holds when it
  // answers other values. Raw TCP cannot carry settings: true, with a note saying so.
  [[nodiscard]] bool ApplyLineSettings(std::uint32_t baudRate, std::string& note);

  // Sends `bytes` to the display by `deadline`: the count sent, all or nothing.
  [[nodiscard]] std::uint32_t Write(std::string_view bytes, SteadyClock::time_point deadline);
  // Waits until the server has taken every byte written, by `deadline`. A server that does
  // not acknowledge in time counts as gone from then on; one that holds the bytes back by flow
  // control does not, but a drain after it waits half a second at most.
  [[nodiscard]] bool Drain(SteadyClock::time_point deadline);
  // The display's bytes received and not yet read; takes in what has arrived without waiting.
  [[nodiscard]] std::uint32_t Available();
  [[nodiscard]] std::uint32_t Read(char* buffer, std::uint32_t capacity);
  // Whether received bytes were dropped since the last call, for a server that sent more than
  // kMaxReceivedBytes between two reads.
  [[nodiscard]] bool TakeOverflow() { return std::exchange(overflowed_, false); }
  // Whether the connection still stands.
  [[nodiscard]] bool Alive();
  // Before closing: waits, bounded, until the server has passed on what it was sent. A server
  // closes the device when its client goes, and may drop what it has not yet written to it.
  void Finish();

  // Why the last ApplyLineSettings, Write or Drain failed: NoAnswer (its bound ran out, the
  // time in the detail), Interrupted (a request to stop cut it short), Lost or InUse (the
  // connection is gone); None after one that succeeded.
  [[nodiscard]] const OpenFailure& StepFailure() const { return stepFailure_; }

  [[nodiscard]] const NetworkPort& Port() const { return port_; }

private:
  NetworkLine(NetworkPort port, std::unique_ptr<ByteStream> stream);

  [[nodiscard]] bool Negotiate(OpenFailure& failure);
  [[nodiscard]] bool CheckRawServer(OpenFailure& failure);
  // Takes in what arrives until `done`, the connection is gone, raw data came, or a step's bound.
  [[nodiscard]] bool WaitForStep(const std::function<bool()>& done);
  // Takes in what has arrived until `deadline`; false once the connection is gone.
  [[nodiscard]] bool Pump(SteadyClock::time_point deadline);
  // Whether the server has taken every byte sent, by `deadline`: on RFC 2217 by the answer to
  // a query of the rate, on raw TCP by the socket's acknowledgement.
  [[nodiscard]] bool ServerTookEverything(SteadyClock::time_point deadline);
  void Take(std::string_view bytes);
  void Answer(const telnet::Command& command);
  void TakeServerNotice(const rfc2217::ServerNotice& notice);
  [[nodiscard]] std::string Where() const;
  // This port's name in `mode`, inside TLS if it is: what a message suggests instead.
  [[nodiscard]] std::string Url(NetworkPort::Mode mode) const;
  // This port's name inside TLS.
  [[nodiscard]] std::string TlsUrl() const;
  // Why a server may stay silent, and what then to use.
  [[nodiscard]] std::string SilentServerHint() const;
  [[nodiscard]] bool ServerSaidInUse() const;
  [[nodiscard]] OpenFailure InUseOrClosed() const;
  // Why the line is gone: the step left unanswered when this side gave up on the server,
  // otherwise what the server did.
  [[nodiscard]] OpenFailure Gone() const;
  // "interrupted `during` HOST:PORT".
  [[nodiscard]] OpenFailure Interrupted(const std::string& during) const;

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
  bool overflowed_ = false;
  bool unanswered_ = false; // the last drain's bound ran out with the line still standing
  OpenFailure stepFailure_;
  OpenFailure gone_;         // the unanswered step after which the line counts as gone
  bool serverSpoke_ = false; // a Telnet command of the server's has come
  std::set<std::pair<std::uint8_t, std::uint8_t>> said_; // (verb, option) we have sent
  std::optional<std::uint32_t> baudAnswer_;
};

} // namespace kv58
