#pragma once
// Runs a program the way a user does, from a shell, and keeps what it printed.

#include <filesystem>
#include <string>

namespace vorn::test {

struct CommandResult {
  int code = -1;  // exit status, -1 when the process did not exit normally
  std::string out;
  std::string err;
};

std::string ReadFileText(const std::filesystem::path& path);

// Runs `command` with /bin/sh, stdin from /dev/null and without DISPLAY,
// WAYLAND_DISPLAY and QT_QPA_PLATFORM, and captures stdout and stderr.
CommandResult RunShellCommand(const std::string& command);

}  // namespace vorn::test
