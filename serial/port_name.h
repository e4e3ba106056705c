#pragma once
// The one reading of a port name, wherever one enters: the window's port box, kv58's --port,
// KV58_PORT and ports files, the drivers' router. A name is a local port, "COM" and a number,
// or a display behind a device server (serial/network_port.h). Later code passes the parsed
// name and prints its canonical spelling.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "serial/network_port.h"

namespace kv58 {

// How strictly "COM" and its number are read. Network names read the same under both.
enum class PortNameRule {
  // The window's port box: capital "COM", then whatever ToIntOrDefault reads as a number other
  // than 0 ("COM 7", "COM03", "COM$10", also "COM-2", which then opens nothing).
  PortBox,
  // Command lines and files: "COM" in any case, then decimal digits of a number from 1 ("com05").
  Strict,
};

class PortName {
public:
  explicit PortName(std::int32_t comNumber) : port_(comNumber) {}
  explicit PortName(NetworkPort network) : port_(std::move(network)) {}

  [[nodiscard]] bool IsNetwork() const { return std::holds_alternative<NetworkPort>(port_); }
  // The n of COMn; 0 for a network port.
  [[nodiscard]] std::int32_t ComNumber() const;
  // The device server's address; only for a network port.
  [[nodiscard]] const NetworkPort& Network() const { return std::get<NetworkPort>(port_); }
  // As reports and logs write it: "COM5", "rfc2217://host:4001", "tcp+tls://[::1]:7001" (a TLS
  // port's options are left out: they are long and say nothing of where the display is).
  [[nodiscard]] std::string Canonical() const;
  // Canonical with a TLS port's options, "?pin=SHA256:…&ca=…" in a fixed order: reads back as
  // the same port. What a driver is handed to open.
  [[nodiscard]] std::string FullName() const;

  friend bool operator==(const PortName& a, const PortName& b) { return a.FullName() == b.FullName(); }

private:
  std::variant<std::int32_t, NetworkPort> port_;
};

// The port that `text` names, or none.
[[nodiscard]] std::optional<PortName> ParsePortName(std::string_view text, PortNameRule rule);

// Which port numbers a device server's address may carry: 1 to 65535 where a program
// connects, 0 too where one listens (the system then picks a free port: the simulator).
enum class PortNumbers { Connect, Listen };

// A device server's address alone, SCHEME://HOST:PORT, read as ParsePortName reads one.
[[nodiscard]] std::optional<NetworkPort> ParseNetworkAddress(std::string_view text, PortNumbers numbers);

// A certificate's SHA-256 as a user gives it: "SHA256:" or not, colons or not, any case. The 64
// hex digits in lower case, or none.
[[nodiscard]] std::optional<std::string> ParseCertificatePin(std::string_view text);

// The rule in words, for a message refusing a name: "a port name is COM and a number from 1
// (COM5), rfc2217://HOST:PORT or tcp://HOST:PORT, or rfc2217+tls:// …".
[[nodiscard]] std::string PortNameRuleText();

} // namespace kv58
