#pragma once
// Setting a Wine prefix up so that a show editor running in it can start
// vorn3manager (see WineSetupCommand.cpp and docs/wine.md).

#include <filesystem>
#include <optional>
#include <string>

namespace vorn {

inline constexpr const char* kDefaultWindowsPath =
    "C:\\Program Files\\VORN3 Manager\\VORN3Manager.exe";

// Where the Windows path "X:\dir\name.exe" lies inside `prefix`; nullopt for
// a path that is not absolute, has empty, "." or ".." parts, characters
// Windows does not allow, a part ending in a dot or a space, or a reserved
// device name (CON, NUL, COM1, ...). Parts that exist in the prefix under
// another letter case take that spelling, as Windows paths ignore case.
std::optional<std::filesystem::path> PathInPrefix(const std::filesystem::path& prefix,
                                                  const std::string& windowsPath);

// The module: $VORN_WINE_MODULE, else the installed or the build-tree copy
// beside this program.
std::optional<std::filesystem::path> FindWineModule();

struct WineSetupResult {
  bool ok;
  std::string message;  // why not, when !ok
};

// Links `module` at `windowsPath` inside `prefix`; idempotent. Refuses a
// directory that is not a Wine prefix and a target that is something other
// than a link.
WineSetupResult SetUpWinePrefix(const std::filesystem::path& prefix,
                                const std::string& windowsPath,
                                const std::filesystem::path& module);

}  // namespace vorn
