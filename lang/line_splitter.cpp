#include "lang/line_splitter.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace kv58 {
namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';
constexpr char kNul = '\0';

bool IsLineBreakOrEnd(char byte) { return byte == kCr || byte == kLf || byte == kNul; }

constexpr std::uint64_t kEveryByte = 0x0101010101010101u;
constexpr std::uint64_t kHighBits = 0x8080808080808080u;

bool HasZeroByte(std::uint64_t word) { return ((word - kEveryByte) & ~word & kHighBits) != 0; }

// The first CR, LF or NUL from `at`, or the end; eight bytes at a time while none is near.
std::size_t FindLineBreakOrEnd(std::string_view text, std::size_t at) {
  while (text.size() - at >= sizeof(std::uint64_t)) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + at, sizeof word);
    if (HasZeroByte(word) || HasZeroByte(word ^ (kEveryByte * kCr)) ||
        HasZeroByte(word ^ (kEveryByte * kLf))) {
      break;
    }
    at += sizeof word;
  }
  while (at < text.size() && !IsLineBreakOrEnd(text[at])) {
    ++at;
  }
  return at;
}

} // namespace

LineSplitter::LineSplitter(LineSink sink) : sink_(std::move(sink)) {}

bool LineSplitter::Feed(std::string_view chunk) {
  std::size_t at = 0;
  while (!ended_ && at < chunk.size()) {
    if (skipOneLf_) {
      skipOneLf_ = false;
      if (chunk[at] == kLf) {
        ++at;
        continue;
      }
    }
    const std::size_t stop = FindLineBreakOrEnd(chunk, at);
    const std::string_view text = chunk.substr(at, stop - at);
    if (stop == chunk.size() || chunk[stop] == kNul) {
      if (!text.empty()) {
        line_.append(text);
        lineOpen_ = true;
      }
      ended_ = stop != chunk.size();
      break;
    }
    // A line that lies whole in the chunk goes to the sink without a copy.
    if (line_.empty()) {
      sink_(text);
    } else {
      line_.append(text);
      sink_(line_);
      line_.clear();
    }
    lineOpen_ = false;
    skipOneLf_ = chunk[stop] == kCr;
    at = stop + 1;
  }
  return !ended_;
}

void LineSplitter::Finish() {
  if (lineOpen_) {
    EmitLine();
  }
  ended_ = true;
}

void LineSplitter::EmitLine() {
  sink_(line_);
  line_.clear();
  lineOpen_ = false;
}

} // namespace kv58
