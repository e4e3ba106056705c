#pragma once
// A security descriptor for a file of this account alone: one access list, protected from
// what its folder would pass down, that allows the process's user (and, when that is
// LocalSystem, the Administrators group, who run the service) and nobody else.

#include <windows.h>

#include <string>
#include <vector>

namespace kv58::serve::detail {

// Whether this process runs as LocalSystem, as a service does by default.
[[nodiscard]] bool RunsAsLocalSystem();

class OwnFileSecurity {
public:
  OwnFileSecurity();
  [[nodiscard]] bool Ready() const { return error_.empty(); }
  [[nodiscard]] const std::string& Error() const { return error_; }
  [[nodiscard]] SECURITY_DESCRIPTOR* Descriptor() { return &descriptor_; }
  // Sets the access list on an open file (opened with WRITE_DAC), as some systems pass the
  // folder's entries down at creation whatever the descriptor says.
  [[nodiscard]] bool Apply(HANDLE file);

private:
  std::vector<unsigned char> user_;
  std::vector<unsigned char> administrators_;
  std::vector<unsigned char> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  std::string error_;
};

} // namespace kv58::serve::detail
