#pragma once
// Why a port did not open, in kinds that every driver shares: a local port's and a device
// server's. A face words each kind in its own table; `detail` carries what only the system or
// the server can say (its own message, the step that went unanswered, the host).

#include <string>

namespace kv58 {

struct OpenFailure {
  enum class Kind {
    None,         // the last open succeeded
    NoSuchPort,   // the name maps to no device
    Missing,      // the device it maps to is not there
    InUse,        // another program holds the port, or another client the device server's
    AccessDenied, // the user may not open it
    NotSerial,    // it is no serial port
    // A display behind a device server:
    NameNotFound,     // the resolver says the host's name is not known
    LookUpTimedOut,   // the name look-up gave no answer within its bound (or only "try again")
    NoThread,         // the system would not start a thread for the name look-up
    Refused,          // nothing accepts connections at the host and port
    NoAnswer,         // the connection or a Telnet step went unanswered within its bound
    WrongMode,        // the server speaks the other mode: Telnet at tcp://, raw bytes at rfc2217://
    Unsupported,      // the server refuses what the display's line needs (COM-PORT-OPTION, BINARY)
    Lost,             // the server closed the connection while it was being set up
    TooManyOpenFiles, // the process or the system is out of file handles
    Interrupted,      // the user's request to stop cut the step short
    // A display behind a device server reached inside TLS (none is worth a retry):
    TlsPlainServer,        // the server answered in clear (Telnet or raw) where TLS was expected
    TlsExpected,           // a clear connection closed as a TLS port closes one
    TlsUntrusted,          // no pin, and neither the CA file nor the system's store vouches
    TlsNameMismatch,       // the certificate does not carry the host's (or the expected) name
    TlsPinMismatch,        // the certificate is not the pinned one: possibly intercepted
    TlsClientCertRequired, // the server wants a client certificate (or refused the one given)
    TlsUnsupportedKey,     // the system's TLS cannot use the server's key (Ed25519 on Windows)
    TlsFailed,             // any other handshake failure, with the library's words in detail
    Other,                 // see detail
  };
  Kind kind = Kind::None;
  std::string detail; // the system's own words for Other; for a device server, its step and host
};

} // namespace kv58
