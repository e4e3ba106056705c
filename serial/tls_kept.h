#pragma once
// What both TLS layers keep beyond one connection: what they make from a port's files (an
// OpenSSL context, SChannel credentials), by those files as they were when read. Making one
// costs more than a handshake (the system's CA bundle is read whole, a PFX imported), which a
// fleet would otherwise pay per display; a file changed on disk makes a new one.

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace kv58 {

// The files, each with the time it was last changed: equal keys, the same files unchanged.
// An empty name is no file.
[[nodiscard]] std::string FilesKey(std::initializer_list<std::string> files);

template <typename Made> class KeptByFiles {
public:
  using Maker = std::function<std::shared_ptr<Made>(std::string& error)>;

  // The one made from `files` before, or a new one from `make` (none, with `error`, kept as none).
  [[nodiscard]] std::shared_ptr<Made> Get(std::initializer_list<std::string> files, const Maker& make,
                                          std::string& error) {
    const std::string key = FilesKey(files);
    const std::lock_guard lock(guard_);
    if (const auto found = kept_.find(key); found != kept_.end()) {
      return found->second;
    }
    std::shared_ptr<Made> made = make(error);
    if (made) {
      if (kept_.size() >= kMostKept) {
        kept_.clear();
      }
      kept_.emplace(key, made);
    }
    return made;
  }

private:
  static constexpr std::size_t kMostKept = 64;

  std::mutex guard_;
  std::map<std::string, std::shared_ptr<Made>> kept_;
};

// Bytes as lower-case hex, as fingerprints are kept.
[[nodiscard]] std::string HexOf(const unsigned char* bytes, std::size_t count);

} // namespace kv58
