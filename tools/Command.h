#pragma once
// One vorn3ctl command: its name, help texts, options and the function that runs it.
// Each command lives in its own source file and is listed in Commands.cpp.

#include <cstddef>
#include <vector>

#include "tools/CommandLine.h"

namespace vorn {

struct Command {
  const char* name;
  const char* arguments;  // "DISK [--json]", shown after the name in the usage
  const char* summary;    // one line for the command overview
  const char* description;  // more lines for --help, may be empty
  std::vector<OptionSpec> options;
  std::size_t minPositional;
  std::size_t maxPositional;
  int (*run)(const CCommandLine& commandLine);  // returns the exit code
};

// Exit codes of vorn3ctl.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // an error, or a question answered No
// Stopped by Ctrl-C or a termination request, as a shell reports SIGINT.
inline constexpr int kExitCancelled = 130;
inline constexpr int kExitUsage = 2;

// The registered commands, in the order the overview lists them.
const std::vector<Command>& Commands();

// Runs vorn3ctl with its arguments (without the program name).
int RunVorn3ctl(const std::vector<std::string>& args);

}  // namespace vorn
