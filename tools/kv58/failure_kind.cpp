#include "tools/kv58/failure_kind.h"

#include <algorithm>
#include <array>

namespace kv58::cli {
namespace {

struct KindRow {
  FailureKind kind;
  std::string_view word;
  bool retried;
  std::string_view meaning;
};

constexpr std::array kKinds{
    KindRow{FailureKind::None, "", false, ""},
    KindRow{FailureKind::NoSuchPort, "no-such-port", false, "the name maps to no device"},
    KindRow{FailureKind::Missing, "missing", false, "the device it maps to is not there"},
    KindRow{FailureKind::InUse, "in-use", true, "another program or client holds the port"},
    KindRow{FailureKind::AccessDenied, "access-denied", false, "the user may not open the port"},
    KindRow{FailureKind::NotSerial, "not-serial", false, "it is no serial port"},
    KindRow{FailureKind::NameNotFound, "name-not-found", false, "the device server's name does not exist"},
    KindRow{FailureKind::LookUpTimedOut, "look-up-timed-out", true,
            "the name's look-up got no answer in time"},
    KindRow{FailureKind::Refused, "refused", true, "nothing accepts connections at the address"},
    KindRow{FailureKind::NoAnswer, "no-answer", true, "the device server did not answer in time"},
    KindRow{FailureKind::WrongMode, "wrong-mode", false, "the server speaks the other mode (rfc2217/tcp)"},
    KindRow{FailureKind::Unsupported, "unsupported", false, "the server cannot carry the display's line"},
    KindRow{FailureKind::Lost, "lost", true, "the line or connection went away"},
    KindRow{FailureKind::TooManyOpenFiles, "too-many-open-files", true, "out of file handles"},
    KindRow{FailureKind::NoThread, "no-thread", true, "the system would not start a thread"},
    KindRow{FailureKind::LineSettings, "line-settings", false, "the port refused the line settings"},
    KindRow{FailureKind::Timeout, "timeout", true, "the port did not take the bytes in time"},
    KindRow{FailureKind::OutputClosed, "output-closed", false, "monitor's output was closed"},
    KindRow{FailureKind::Other, "other", false, "see the message"},
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
  using Open = OpenFailure::Kind;
  switch (kind) {
  case Open::None:
  case Open::NoSuchPort:
    return FailureKind::NoSuchPort;
  case Open::Missing:
    return FailureKind::Missing;
  case Open::InUse:
    return FailureKind::InUse;
  case Open::AccessDenied:
    return FailureKind::AccessDenied;
  case Open::NotSerial:
    return FailureKind::NotSerial;
  case Open::NameNotFound:
    return FailureKind::NameNotFound;
  case Open::LookUpTimedOut:
    return FailureKind::LookUpTimedOut;
  case Open::NoThread:
    return FailureKind::NoThread;
  case Open::Refused:
    return FailureKind::Refused;
  case Open::NoAnswer:
    return FailureKind::NoAnswer;
  case Open::WrongMode:
    return FailureKind::WrongMode;
  case Open::Unsupported:
    return FailureKind::Unsupported;
  case Open::Lost:
    return FailureKind::Lost;
  case Open::TooManyOpenFiles:
    return FailureKind::TooManyOpenFiles;
  case Open::Interrupted: // a stop, which the caller tells apart before it asks for a kind
  case Open::Other:
    break;
  }
  return FailureKind::Other;
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
