#pragma once
// %ProgramData%\kv58, where the service keeps its files: the system's known folder, which is
// what the installer names too, not the variable (Wine gives services another value).

#include <filesystem>
#include <optional>

namespace kv58::serve::detail {

[[nodiscard]] std::optional<std::filesystem::path> ProgramDataFolder();

} // namespace kv58::serve::detail
