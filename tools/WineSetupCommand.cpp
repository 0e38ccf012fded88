// vorn3ctl wine-setup: makes vorn3manager startable by a show editor that runs
// under Wine. The editor starts the manager with CreateProcess on a Windows
// .exe path; Wine starts a symbolic link to our module, placed at that path in
// the prefix, as the program itself.

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "tools/Commands.h"
#include "tools/WineSetup.h"

namespace vorn {
namespace fs = std::filesystem;

namespace {

constexpr const char* kModuleName = "vorn3manager.exe.so";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Device names Windows reserves in every directory, with any extension: a
// program at C:\CON\x.exe or C:\dir\NUL.exe cannot be started there.
bool IsReservedDeviceName(const std::string& part) {
  const std::string stem = Lower(part.substr(0, part.find('.')));
  if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return true;
  return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

bool IsBadWindowsName(const std::string& part) {
  if (part.empty() || part == "." || part == "..") return true;
  // Windows drops a trailing dot or space ("C:\ZOV.\" is "C:\ZOV\"), so a
  // name ending in one would be made here under a spelling the editor never uses.
  if (part.back() == '.' || part.back() == ' ') return true;
  if (IsReservedDeviceName(part)) return true;
  for (const char c : part) {
    if (static_cast<unsigned char>(c) < 32 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

// The entry of `directory` that is `part` but for letter case, as Windows
// (and Wine) would find it; `part` itself when there is none or it exists as
// spelled. A second tree under another spelling would be invisible to the editor.
std::string ExistingSpelling(const fs::path& directory, const std::string& part) {
  std::error_code error;
  if (fs::exists(fs::symlink_status(directory / part, error))) return part;
  const std::string wanted = Lower(part);
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (Lower(name) == wanted) return name;
  }
  return part;
}

}  // namespace

std::optional<fs::path> PathInPrefix(const fs::path& prefix, const std::string& windowsPath) {
  if (windowsPath.size() < 4 || !std::isalpha(static_cast<unsigned char>(windowsPath[0])) ||
      windowsPath[1] != ':' || (windowsPath[2] != '\\' && windowsPath[2] != '/')) {
    return std::nullopt;
  }
  const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
  // C: is drive_c in every prefix; other letters are whatever dosdevices says.
  fs::path path = drive == 'c' ? prefix / "drive_c" : prefix / "dosdevices" / std::string{drive, ':'};
  std::string part;
  for (std::size_t i = 3; i <= windowsPath.size(); ++i) {
    if (i == windowsPath.size() || windowsPath[i] == '\\' || windowsPath[i] == '/') {
      if (IsBadWindowsName(part)) return std::nullopt;
      path /= ExistingSpelling(path, part);
      part.clear();
    } else {
      part += windowsPath[i];
    }
  }
  return path;
}

std::optional<fs::path> FindWineModule() {
  if (const char* configured = std::getenv("VORN_WINE_MODULE"); configured && *configured) {
    return fs::path(configured);
  }
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  // Installed: BINDIR/../lib/vorn3manager/, a path that stays the same across
  // upgrades, so the link keeps working. Build tree: tools/../app/.
  for (const fs::path& candidate :
       {(self.parent_path().parent_path() / "lib" / "vorn3manager" / kModuleName).lexically_normal(),
        self.parent_path().parent_path() / "app" / kModuleName}) {
    if (::access(candidate.c_str(), R_OK) == 0) return candidate;
  }
  return std::nullopt;
}

WineSetupResult SetUpWinePrefix(const fs::path& prefix, const std::string& windowsPath,
                                const fs::path& module) {
  std::error_code error;
  if (!fs::is_directory(prefix / "drive_c", error) || !fs::exists(prefix / "system.reg", error)) {
    return {false, prefix.string() +
                       " is not a Wine prefix (it has no drive_c and system.reg); make one with "
                       "WINEPREFIX=" + prefix.string() + " wineboot -i"};
  }
  const std::optional<fs::path> target = PathInPrefix(prefix, windowsPath);
  if (!target) {
    return {false, "'" + windowsPath + "' is not a Windows path like C:\\dir\\VORN3Manager.exe"};
  }

  const fs::file_status status = fs::symlink_status(*target, error);
  if (fs::is_symlink(status)) {
    // Ours from before (a build tree, an older install) is moved on; a link
    // to anything else belongs to someone else.
    const fs::path current = fs::read_symlink(*target, error);
    if (current == module) return {true, "already set up"};
    if (current.filename() != kModuleName) {
      return {false, target->string() + " is a link to " + current.string() +
                         ", not to the module; move it away first"};
    }
  } else if (fs::exists(status)) {
    return {false, target->string() + " exists and is not a link to the module; move it away first"};
  }

  // A drive letter the prefix does not map is refused rather than made up.
  const fs::path drive = PathInPrefix(prefix, windowsPath.substr(0, 3) + "x").value().parent_path();
  if (!fs::is_directory(drive, error)) {
    return {false, "drive " + windowsPath.substr(0, 2) + " is not mapped in " + prefix.string()};
  }
  fs::create_directories(target->parent_path(), error);
  if (error) return {false, target->parent_path().string() + ": " + error.message()};
  // Made beside the target and renamed over it, so an old link is replaced in
  // one step and an interrupted run leaves no half-made one.
  const fs::path temporary = target->string() + ".vorn-new";
  fs::remove(temporary, error);
  fs::create_symlink(module, temporary, error);
  if (!error) fs::rename(temporary, *target, error);
  if (error) {
    fs::remove(temporary);
    return {false, target->string() + ": " + error.message()};
  }
  return {true, "set up"};
}

namespace {

int RunWineSetup(const CCommandLine& commandLine) {
  if (commandLine.Positional()[0].empty()) throw CUsageError("PREFIX names no directory");
  const fs::path prefix = fs::absolute(commandLine.Positional()[0]);
  const std::string windowsPath = commandLine.Value("--as", kDefaultWindowsPath);
  const std::optional<fs::path> module = FindWineModule();
  if (!module) {
    std::fprintf(stderr,
                 "vorn3ctl: the Wine module (%s) is not installed; it is built when Wine's "
                 "development tools (wine64-tools) are present\n",
                 kModuleName);
    return kExitFailure;
  }
  const WineSetupResult result = SetUpWinePrefix(prefix, windowsPath, fs::absolute(*module));
  if (!result.ok) {
    std::fprintf(stderr, "vorn3ctl: %s\n", result.message.c_str());
    return kExitFailure;
  }
  std::printf("%s\n", windowsPath.c_str());
  return kExitOk;
}

}  // namespace

Command WineSetupCommand() {
  return Command{
      "wine-setup",
      "PREFIX [--as WINDOWS-PATH]",
      "make vorn3manager startable by a show editor running in the Wine prefix PREFIX",
      "Places a link to the Wine module of vorn3manager at WINDOWS-PATH inside the\n"
      "prefix (default C:\\Program Files\\VORN3 Manager\\VORN3Manager.exe) and prints\n"
      "that path: point the editor at it. Running it again changes nothing.",
      {{"--as", "WINDOWS-PATH", "where the editor expects the program"}},
      1,
      1,
      RunWineSetup};
}

}  // namespace vorn
