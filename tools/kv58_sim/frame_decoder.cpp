#include "tools/kv58_sim/frame_decoder.h"

#include <initializer_list>
#include <utility>

namespace kv58::sim {
namespace {

constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kTextEnd = 0x00;

constexpr std::uint8_t kSpeed = 0x03;
constexpr std::uint8_t kFirstLine = 0x04;
constexpr std::uint8_t kLastLine = 0x05;
constexpr std::uint8_t kScrollType = 0x06;
constexpr std::uint8_t kText = 0x07;
constexpr std::uint8_t kStore = 0x08;
constexpr std::uint8_t kReset = 0x09;

EventKind ParameterCommandKind(std::uint8_t code) {
  switch (code) {
  case kSpeed:
    return EventKind::Speed;
  case kFirstLine:
    return EventKind::FirstLine;
  case kLastLine:
    return EventKind::LastLine;
  default:
    return EventKind::ScrollType;
  }
}

std::string RawBytes(std::initializer_list<std::uint8_t> bytes) {
  std::string raw;
  for (const std::uint8_t byte : bytes) {
    raw.push_back(static_cast<char>(byte));
  }
  return raw;
}

} // namespace

FrameDecoder::FrameDecoder(DecoderLimits limits) : limits_(limits) {}

void FrameDecoder::Feed(std::string_view bytes, Millis nowMs) {
  Expire(nowMs);
  for (const char byte : bytes) {
    TakeByte(static_cast<std::uint8_t>(byte), nowMs);
  }
}

void FrameDecoder::Expire(Millis nowMs) {
  const std::optional<Millis> deadline = Deadline();
  if (deadline && *deadline <= nowMs) {
    Flush();
  }
}

void FrameDecoder::Hangup(Millis nowMs) {
  Flush();
  SimEvent hangup;
  hangup.kind = EventKind::Hangup;
  hangup.timeMs = nowMs;
  events_.push_back(std::move(hangup));
}

void FrameDecoder::ConnectionClosed(Millis nowMs) {
  if (state_ == State::Idle) {
    FlushStray();
  }
  if (state_ == State::InUpload) {
    SimEvent note;
    note.kind = EventKind::ClosedMidText;
    note.timeMs = nowMs;
    note.byteCount = upload_.byteCount;
    events_.push_back(std::move(note));
    ++upload_.connections;
  }
  SimEvent hangup;
  hangup.kind = EventKind::Hangup;
  hangup.timeMs = nowMs;
  events_.push_back(std::move(hangup));
}

std::optional<Millis> FrameDecoder::Deadline() const {
  switch (state_) {
  case State::AwaitCode:
  case State::AwaitParameter:
    return lastByteMs_ + limits_.frameTimeoutMs;
  case State::InUpload:
    return lastByteMs_ + limits_.uploadTimeoutMs;
  case State::Idle:
    break;
  }
  if (!stray_.empty()) {
    return lastByteMs_ + limits_.frameTimeoutMs;
  }
  return std::nullopt;
}

std::vector<SimEvent> FrameDecoder::TakeEvents() { return std::exchange(events_, {}); }

void FrameDecoder::TakeByte(std::uint8_t byte, Millis nowMs) {
  switch (state_) {
  case State::Idle:
    TakeIdleByte(byte, nowMs);
    break;
  case State::AwaitCode:
    TakeCode(byte, nowMs);
    break;
  case State::AwaitParameter:
    state_ = State::Idle;
    EmitCommand(ParameterCommandKind(code_), byte);
    break;
  case State::InUpload:
    TakeUploadByte(byte, nowMs);
    break;
  }
  lastByteMs_ = nowMs;
}

void FrameDecoder::TakeIdleByte(std::uint8_t byte, Millis nowMs) {
  if (byte == kMarker) {
    FlushStray();
    StartFrame(nowMs);
    return;
  }
  if (stray_.empty()) {
    strayStartMs_ = nowMs;
  }
  stray_.push_back(static_cast<char>(byte));
  if (stray_.size() >= limits_.maxKeptBytes) {
    FlushStray();
  }
}

void FrameDecoder::TakeCode(std::uint8_t code, Millis nowMs) {
  switch (code) {
  case kSpeed:
  case kFirstLine:
  case kLastLine:
  case kScrollType:
    code_ = code;
    state_ = State::AwaitParameter;
    return;
  case kText:
    state_ = State::InUpload;
    upload_ = SimEvent{};
    upload_.kind = EventKind::Text;
    upload_.timeMs = frameStartMs_;
    return;
  case kStore:
    state_ = State::Idle;
    EmitCommand(EventKind::Store, 0);
    return;
  case kReset:
    state_ = State::Idle;
    EmitCommand(EventKind::Reset, 0);
    return;
  case kMarker:
    // A marker straight after a marker: the first one lost its frame, the second may open one.
    EmitUndecoded(RawBytes({kMarker}), 1, UndecodedReason::Incomplete, frameStartMs_);
    StartFrame(nowMs);
    return;
  default:
    state_ = State::Idle;
    EmitUndecoded(RawBytes({kMarker, code}), 2, UndecodedReason::UnknownCode, frameStartMs_);
    return;
  }
}

void FrameDecoder::TakeUploadByte(std::uint8_t byte, Millis nowMs) {
  if (byte == kTextEnd) {
    FinishUpload(nowMs);
    return;
  }
  if (upload_.pages.empty() || nowMs - lastByteMs_ > limits_.pageGapMs) {
    upload_.pages.push_back(UploadPage{nowMs - frameStartMs_, 0});
  }
  ++upload_.pages.back().bytes;
  ++upload_.byteCount;
  if (upload_.bytes.size() < limits_.maxKeptBytes) {
    upload_.bytes.push_back(static_cast<char>(byte));
  }
}

void FrameDecoder::StartFrame(Millis nowMs) {
  state_ = State::AwaitCode;
  frameStartMs_ = nowMs;
}

void FrameDecoder::EmitCommand(EventKind kind, std::uint8_t value) {
  SimEvent event;
  event.kind = kind;
  event.timeMs = frameStartMs_;
  event.value = value;
  events_.push_back(std::move(event));
}

void FrameDecoder::EmitUndecoded(std::string bytes, std::size_t count, UndecodedReason reason,
                                 Millis timeMs) {
  SimEvent event;
  event.kind = EventKind::Undecoded;
  event.timeMs = timeMs;
  event.bytes = std::move(bytes);
  event.byteCount = count;
  event.reason = reason;
  events_.push_back(std::move(event));
}

void FrameDecoder::Flush() {
  switch (state_) {
  case State::Idle:
    FlushStray();
    break;
  case State::AwaitCode:
  case State::AwaitParameter:
    FlushFrame(UndecodedReason::Incomplete);
    break;
  case State::InUpload:
    FlushFrame(UndecodedReason::UnterminatedUpload);
    break;
  }
}

void FrameDecoder::FlushStray() {
  if (stray_.empty()) {
    return;
  }
  const std::size_t count = stray_.size();
  EmitUndecoded(std::exchange(stray_, {}), count, UndecodedReason::NoMarker, strayStartMs_);
}

void FrameDecoder::FlushFrame(UndecodedReason reason) {
  std::string raw = RawBytes({kMarker});
  std::size_t count = 1;
  if (state_ == State::AwaitParameter) {
    raw.push_back(static_cast<char>(code_));
    count = 2;
  } else if (state_ == State::InUpload) {
    raw.push_back(static_cast<char>(kText));
    raw += upload_.bytes;
    if (raw.size() > limits_.maxKeptBytes) {
      raw.resize(limits_.maxKeptBytes);
    }
    count = 2 + upload_.byteCount;
    upload_ = SimEvent{};
  }
  state_ = State::Idle;
  EmitUndecoded(std::move(raw), count, reason, frameStartMs_);
}

void FrameDecoder::FinishUpload(Millis nowMs) {
  upload_.endMs = nowMs - frameStartMs_;
  state_ = State::Idle;
  events_.push_back(std::exchange(upload_, SimEvent{}));
}

} // namespace kv58::sim
