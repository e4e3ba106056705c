#pragma once
// Whether to trust the server a TLS handshake met: the one set of rules both TLS layers
// (OpenSSL, SChannel) ask, so that the two systems decide alike. No sockets here: the layers
// report what the handshake saw, these functions decide and word the refusal.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "serial/network_port.h"
#include "serial/open_failure.h"

namespace kv58 {

// What a TLS layer saw of the server's certificate.
struct PresentedCertificate {
  std::string sha256;                  // of the leaf certificate's DER, 64 lower-case hex digits
  bool chainVerified = false;          // vouched for by the CA file, or else the system's store
  std::string chainProblem;            // the library's words when not ("certificate has expired")
  std::vector<std::string> dnsNames;   // subjectAltName DNS entries (the CN when there are none)
  std::vector<std::string> ipAddresses; // subjectAltName IP entries, 4 or 16 raw bytes each
};

// Trusted: kind None. Otherwise the kind (TlsPinMismatch, TlsUntrusted, TlsNameMismatch) and a
// sentence naming the server, the presented fingerprint and the ?pin= that would trust it.
[[nodiscard]] OpenFailure DecideTrust(const NetworkPort& port, const PresentedCertificate& presented);

// The name the certificate must carry: name= when given, else the host.
[[nodiscard]] std::string ExpectedServerName(const NetworkPort& port);

// Whether `name` (a host name or an IP literal) is among the certificate's names: DNS names
// case-blind with a leftmost "*." wildcard; IP literals against the raw IP entries only.
[[nodiscard]] bool CertificateNames(const PresentedCertificate& presented, std::string_view name);

// "SHA256:AB:CD:…": a fingerprint as openssl x509 -fingerprint prints it.
[[nodiscard]] std::string FingerprintText(std::string_view sha256Hex);

} // namespace kv58
