#pragma once
// The simulator's entry in the port map directory, where the controller looks up "COMn"
// before its fixed device rule. The link is made at start and taken away at the end, but
// only while it still points at this simulator's terminal.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kv58::sim {

class PortLink {
public:
  PortLink() = default;
  ~PortLink();
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;

  // Makes directory/name point at target, creating the directory when missing. An entry of
  // that name that is a link to a missing target, or already to target, is replaced; any
  // other entry is left as it is and the call fails with the reason in error.
  [[nodiscard]] bool Create(const std::filesystem::path& directory, std::string_view name,
                            const std::filesystem::path& target, std::string& error);
  // Removes the link if it still points at the target; safe to call more than once.
  void Remove();

  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }

private:
  std::filesystem::path path_;
  std::filesystem::path target_;
};

} // namespace kv58::sim
