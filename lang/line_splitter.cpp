#include "lang/line_splitter.h"

#include <algorithm>
#include <utility>

namespace kv58 {
namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';
constexpr char kNul = '\0';

bool IsLineBreakOrEnd(char byte) { return byte == kCr || byte == kLf || byte == kNul; }

} // namespace

LineSplitter::LineSplitter(LineSink sink) : sink_(std::move(sink)) {}

bool LineSplitter::Feed(std::string_view chunk) {
  auto at = chunk.begin();
  while (!ended_ && at != chunk.end()) {
    if (skipOneLf_) {
      skipOneLf_ = false;
      if (*at == kLf) {
        ++at;
        continue;
      }
    }
    const auto stop = std::find_if(at, chunk.end(), IsLineBreakOrEnd);
    if (stop != at) {
      line_.append(at, stop);
      lineOpen_ = true;
    }
    at = stop;
    if (at == chunk.end()) {
      break;
    }
    const char mark = *at++;
    if (mark == kNul) {
      ended_ = true;
      break;
    }
    EmitLine();
    skipOneLf_ = mark == kCr;
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
