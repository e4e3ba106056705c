#include "tools/kv58_sim/port_link.h"

#include <system_error>
#include <unistd.h>

namespace kv58::sim {
namespace fs = std::filesystem;

namespace {

// Why an existing entry may not be replaced, or nothing when it may.
std::optional<std::string> ReasonToKeep(const fs::path& entry, const fs::path& target) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(entry, error);
  if (error || !fs::exists(status)) {
    return std::nullopt;
  }
  if (!fs::is_symlink(status)) {
    return entry.string() + " exists and is not a symbolic link; remove it or pick another name";
  }
  const fs::path current = fs::read_symlink(entry, error);
  if (error || current == target) {
    return std::nullopt;
  }
  if (!fs::exists(entry, error)) {
    return std::nullopt; // stale: what it pointed at is gone
  }
  return entry.string() + " already points at " + current.string() +
         ", which exists (another simulator?); remove the link or pick another name";
}

} // namespace

PortLink::~PortLink() { Remove(); }

bool PortLink::Create(const fs::path& directory, std::string_view name, const fs::path& target,
                      std::string& error) {
  Remove();
  std::error_code code;
  fs::create_directories(directory, code);
  if (code) {
    error = "cannot create " + directory.string() + ": " + code.message();
    return false;
  }
  const fs::path entry = directory / name;
  if (std::optional<std::string> reason = ReasonToKeep(entry, target)) {
    error = std::move(*reason);
    return false;
  }
  // Made under a private name and renamed over the entry, so a stale link is replaced in
  // one step and the controller never sees the name missing or half made.
  const fs::path scratch = directory / ("." + std::string(name) + ".kv58-sim." + std::to_string(getpid()));
  fs::remove(scratch, code);
  fs::create_symlink(target, scratch, code);
  if (!code) {
    fs::rename(scratch, entry, code);
  }
  if (code) {
    std::error_code ignored;
    fs::remove(scratch, ignored);
    error = "cannot make the link " + entry.string() + ": " + code.message();
    return false;
  }
  path_ = entry;
  target_ = target;
  return true;
}

void PortLink::Remove() {
  if (path_.empty()) {
    return;
  }
  std::error_code code;
  if (fs::read_symlink(path_, code) == target_ && !code) {
    fs::remove(path_, code);
  }
  path_.clear();
  target_.clear();
}

} // namespace kv58::sim
