#include "tools/kv58/failure_kind.h"

#include <algorithm>
#include <array>
#include <optional>

namespace kv58::cli {
namespace {

using Open = OpenFailure::Kind;

struct KindRow {
  FailureKind kind;
  std::string_view word;
  bool retried;
  std::string_view meaning;
  std::optional<Open> open; // the driver's kind it stands for, if any
};

constexpr std::array kKinds{
    KindRow{FailureKind::None, "", false, "", std::nullopt},
    KindRow{FailureKind::NoSuchPort, "no-such-port", false, "the name maps to no device", Open::NoSuchPort},
    KindRow{FailureKind::Missing, "missing", false, "the device it maps to is not there", Open::Missing},
    KindRow{FailureKind::InUse, "in-use", true, "another program or client holds the port", Open::InUse},
    KindRow{FailureKind::AccessDenied, "access-denied", false, "the user may not open the port",
            Open::AccessDenied},
    KindRow{FailureKind::NotSerial, "not-serial", false, "it is no serial port", Open::NotSerial},
    KindRow{FailureKind::NameNotFound, "name-not-found", false, "the device server's name does not exist",
            Open::NameNotFound},
    KindRow{FailureKind::LookUpTimedOut, "look-up-timed-out", true,
            "the name's look-up got no answer in time", Open::LookUpTimedOut},
    KindRow{FailureKind::Refused, "refused", true, "nothing accepts connections at the address",
            Open::Refused},
    KindRow{FailureKind::NoAnswer, "no-answer", true, "the device server did not answer in time",
            Open::NoAnswer},
    KindRow{FailureKind::WrongMode, "wrong-mode", false, "the server speaks the other mode (rfc2217/tcp)",
            Open::WrongMode},
    KindRow{FailureKind::Unsupported, "unsupported", false, "the server cannot carry the display's line",
            Open::Unsupported},
    KindRow{FailureKind::Lost, "lost", true, "the line or connection went away", Open::Lost},
    KindRow{FailureKind::TooManyOpenFiles, "too-many-open-files", true, "out of file handles",
            Open::TooManyOpenFiles},
    KindRow{FailureKind::NoThread, "no-thread", true, "the system would not start a thread", Open::NoThread},
    KindRow{FailureKind::TlsPlainServer, "tls-plain-server", false, "the server speaks in clear, not TLS",
            Open::TlsPlainServer},
    KindRow{FailureKind::TlsExpected, "tls-expected", false,
            "the server closed a clear connection: it may want TLS", Open::TlsExpected},
    KindRow{FailureKind::TlsUntrusted, "tls-untrusted", false,
            "no pin, CA file or system CA vouches for the server", Open::TlsUntrusted},
    KindRow{FailureKind::TlsNameMismatch, "tls-name-mismatch", false,
            "the server's certificate is for another name", Open::TlsNameMismatch},
    KindRow{FailureKind::TlsPinMismatch, "tls-pin-mismatch", false,
            "not the pinned certificate: possibly intercepted", Open::TlsPinMismatch},
    KindRow{FailureKind::TlsClientCertRequired, "tls-client-cert-required", false,
            "the server wants a client certificate (or refused ours)", Open::TlsClientCertRequired},
    KindRow{FailureKind::TlsUnsupportedKey, "tls-unsupported-key", false,
            "the system's TLS cannot use the server's key", Open::TlsUnsupportedKey},
    KindRow{FailureKind::TlsFailed, "tls-failed", false, "the TLS handshake failed", Open::TlsFailed},
    KindRow{FailureKind::LineSettings, "line-settings", false, "the port refused the line settings",
            std::nullopt},
    KindRow{FailureKind::Timeout, "timeout", true, "the port did not take the bytes in time", std::nullopt},
    KindRow{FailureKind::OutputClosed, "output-closed", false, "monitor's output was closed", std::nullopt},
    KindRow{FailureKind::Other, "other", false, "see the message", Open::Other},
};

const KindRow& RowOf(FailureKind kind) {
  for (const KindRow& row : kKinds) {
    if (row.kind == kind) {
      return row;
    }
  }
  return kKinds.back();
}

} // namespace

std::string_view KindWord(FailureKind kind) { return RowOf(kind).word; }

bool IsRetried(FailureKind kind) { return RowOf(kind).retried; }

FailureKind KindOf(OpenFailure::Kind kind) {
  if (kind == Open::None) {
    return FailureKind::NoSuchPort; // a driver that gave no reason
  }
  // A stop (Interrupted) is told apart by the caller before it asks for a kind.
  const auto row =
      std::find_if(kKinds.begin(), kKinds.end(), [kind](const KindRow& each) { return each.open == kind; });
  return row != kKinds.end() ? row->kind : FailureKind::Other;
}

std::string KindsHelpText(std::size_t indent, std::size_t width) {
  std::string text;
  std::size_t wordWidth = 0;
  for (const KindRow& row : kKinds) {
    wordWidth = std::max(wordWidth, row.word.size());
  }
  for (const KindRow& row : kKinds) {
    if (row.kind == FailureKind::None) {
      continue;
    }
    std::string line = std::string(indent, ' ') + std::string(row.word);
    line += std::string(wordWidth + 2 - row.word.size(), ' ') + std::string(row.meaning);
    if (row.retried) {
      line += line.size() + 10 <= width ? " (retried)"
                                        : "\n" + std::string(indent + wordWidth + 2, ' ') + "(retried)";
    }
    text += line + '\n';
  }
  return text;
}

} // namespace kv58::cli
