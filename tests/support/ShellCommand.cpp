#include "tests/support/ShellCommand.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vorn::test {

std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

CommandResult RunShellCommand(const std::string& command) {
  std::string dir = (std::filesystem::temp_directory_path() / "vorn-cmd-XXXXXX").string();
  if (::mkdtemp(dir.data()) == nullptr) return {};
  const std::filesystem::path out = std::filesystem::path(dir) / "out";
  const std::filesystem::path err = std::filesystem::path(dir) / "err";
  // Headless, whatever display the developer's shell has.
  const std::string full = "unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; { " + command + " ; } </dev/null >" +
                           out.string() + " 2>" + err.string();
  const int status = std::system(full.c_str());
  CommandResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileText(out),
                       ReadFileText(err)};
  std::filesystem::remove_all(dir);
  return result;
}

}  // namespace vorn::test
