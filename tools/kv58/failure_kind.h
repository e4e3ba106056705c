#pragma once
// What kind of failure ended a display's run: one value that the report, --json, retries and
// --help all read from the one table in failure_kind.cpp.

#include <string>
#include <string_view>

#include "serial/open_failure.h"

namespace kv58::cli {

enum class FailureKind {
  None,
  // The port's opening (OpenFailure's kinds):
  NoSuchPort,
  Missing,
  InUse,
  AccessDenied,
  NotSerial,
  NameNotFound,
  LookUpTimedOut,
  Refused,
  NoAnswer,
  WrongMode,
  Unsupported,
  Lost,
  TooManyOpenFiles,
  NoThread,
  TlsPlainServer,
  TlsExpected,
  TlsUntrusted,
  TlsNameMismatch,
  TlsPinMismatch,
  TlsClientCertRequired,
  TlsUnsupportedKey,
  TlsFailed,
  // The device's steps:
  LineSettings, // the port refused the line settings, queues or time-outs
  Timeout,      // the port did not take bytes in time
  OutputClosed, // monitor: what arrived could not be written
  Other,
};

// "in-use", "look-up-timed-out": stable words, for scripts to match.
[[nodiscard]] std::string_view KindWord(FailureKind kind);
// Whether another attempt may mend it: a connection not made or lost, a port in use; never a
// wrong mode, a refused setting or a name that does not exist.
[[nodiscard]] bool IsRetried(FailureKind kind);
[[nodiscard]] FailureKind KindOf(OpenFailure::Kind kind);
// --help's lines on the kinds, each with its meaning and whether --retries tries it again,
// indented by `indent` and wrapped within `width` columns.
[[nodiscard]] std::string KindsHelpText(std::size_t indent, std::size_t width);

} // namespace kv58::cli
