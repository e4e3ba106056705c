#include "lang/display_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iconv.h>

namespace kv58 {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";
// One Windows-1250 byte is at most three UTF-8 bytes.
constexpr std::size_t kMaxUtf8BytesPerInputByte = 3;

class Cp1250Decoder {
public:
  Cp1250Decoder() : handle_(Open()) {}
  ~Cp1250Decoder() {
    if (IsOpen()) {
      iconv_close(handle_);
    }
  }
  Cp1250Decoder(const Cp1250Decoder&) = delete;
  Cp1250Decoder& operator=(const Cp1250Decoder&) = delete;

  [[nodiscard]] bool IsOpen() const { return handle_ != Closed(); }

  // Converts all of `bytes`; a byte the code page does not define becomes U+FFFD.
  [[nodiscard]] std::string Decode(std::string_view bytes) {
    std::string out(bytes.size() * kMaxUtf8BytesPerInputByte, '\0');
    // iconv's interface takes a non-const input pointer but never writes through it.
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* outAt = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
      if (iconv(handle_, &in, &inLeft, &outAt, &outLeft) != static_cast<std::size_t>(-1)) {
        break;
      }
      if (errno != EILSEQ && errno != EINVAL) {
        break; // out of room cannot happen with the size reserved above
      }
      // Undefined byte: put U+FFFD in its place and go on with the next one. Three output
      // bytes per input byte leave room for it.
      outAt = std::copy(kReplacementCharacter.begin(), kReplacementCharacter.end(), outAt);
      outLeft -= kReplacementCharacter.size();
      ++in;
      --inLeft;
    }
    out.resize(out.size() - outLeft);
    return out;
  }

private:
  static iconv_t Closed() { return reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1)); }

  static iconv_t Open() {
    const iconv_t handle = iconv_open("UTF-8", "WINDOWS-1250");
    return handle != Closed() ? handle : iconv_open("UTF-8", "CP1250");
  }

  iconv_t handle_;
};

// Without a usable converter the ASCII part still reads; every other byte shows as U+FFFD.
std::string AsciiOnly(std::string_view bytes) {
  std::string out;
  for (const char byte : bytes) {
    if (static_cast<unsigned char>(byte) < 0x80) {
      out.push_back(byte);
    } else {
      out.append(kReplacementCharacter);
    }
  }
  return out;
}

} // namespace

std::string DecodeForDisplay(std::string_view bytes, TextEncoding encoding) {
  if (encoding == TextEncoding::Utf8) {
    return std::string(bytes);
  }
  Cp1250Decoder decoder;
  return decoder.IsOpen() ? decoder.Decode(bytes) : AsciiOnly(bytes);
}

} // namespace kv58
