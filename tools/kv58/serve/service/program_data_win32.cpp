#include "tools/kv58/serve/service/program_data_win32.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

namespace kv58::serve::detail {

std::optional<std::filesystem::path> ProgramDataFolder() {
  PWSTR folder = nullptr;
  std::optional<std::filesystem::path> result;
  if (SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder) == S_OK && folder != nullptr) {
    result = std::filesystem::path(folder) / L"kv58";
  }
  CoTaskMemFree(folder);
  return result;
}

} // namespace kv58::serve::detail
