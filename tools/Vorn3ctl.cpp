#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>

#include "device/DeviceExceptions.h"
#include "platform/MessageBox.h"
#include "tools/Command.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

void PrintOverview(std::FILE* out) {
  std::fprintf(out,
               "Usage: vorn3ctl COMMAND [ARGUMENTS]\n"
               "Manages VORN disks from the command line.\n\nCommands:\n");
  for (const Command& command : Commands()) {
    std::fprintf(out, "  %-14s %s\n", command.name, command.summary);
  }
  std::fprintf(out,
               "\nDISK is a disk image file, a drive that 'vorn3ctl devices' lists (PhysicalDriveN),\n"
               "or the name of an attached VORN unit (VORN3).\n"
               "Run 'vorn3ctl COMMAND --help' for the options of a command.\n");
}

void PrintUsage(std::FILE* out, const Command& command) {
  std::fprintf(out, "Usage: vorn3ctl %s %s\n%s\n", command.name, command.arguments, command.summary);
  if (command.description && *command.description) std::fprintf(out, "\n%s\n", command.description);
  std::fprintf(out, "\nOptions:\n");
  for (const OptionSpec& option : command.options) {
    std::string left = option.name;
    if (option.value) left += std::string(" ") + option.value;
    std::fprintf(out, "  %-14s %s\n", left.c_str(), option.help);
  }
  std::fprintf(out, "  %-14s %s\n", "--help", "show this help");
}

const Command* FindCommand(const std::string& name) {
  for (const Command& command : Commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

bool WantsHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

int RunOne(const Command& command, const std::vector<std::string>& args) {
  try {
    CCommandLine commandLine(args, command.options);
    std::size_t count = commandLine.Positional().size();
    if (count < command.minPositional) throw CUsageError("missing arguments");
    if (count > command.maxPositional) throw CUsageError("too many arguments");
    return command.run(commandLine);
  } catch (const CUsageError& error) {
    std::fprintf(stderr, "vorn3ctl %s: %s\n", command.name, error.what());
    PrintUsage(stderr, command);
    return kExitUsage;
  } catch (const CUsbDeviceException& error) {
    std::fprintf(stderr, "%s\n", error.GetMessage().c_str());
  } catch (const CDriveAccessException& error) {
    std::fprintf(stderr, "%s\n", error.GetMessage().c_str());
  } catch (const CFileAccessException& error) {
    std::fprintf(stderr, "%s\n", error.GetMessage().c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
  }
  return kExitFailure;
}

}  // namespace

int RunVorn3ctl(const std::vector<std::string>& args) {
  if (args.empty()) {
    PrintOverview(stderr);
    return kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintOverview(stdout);
    return kExitOk;
  }
  if (args[0] == "--version") {
    std::printf("vorn3ctl %s\n", VORN_VERSION);
    return kExitOk;
  }
  const Command* command = FindCommand(args[0]);
  if (!command) {
    std::fprintf(stderr, "vorn3ctl: unknown command '%s'\n\n", args[0].c_str());
    PrintOverview(stderr);
    return kExitUsage;
  }
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (WantsHelp(rest)) {
    PrintUsage(stdout, *command);
    return kExitOk;
  }

  CTerminalPresenter presenter(stdin, stderr);
  SetMessagePresenter(&presenter);
  int code = RunOne(*command, rest);
  SetMessagePresenter(nullptr);
  std::fflush(stdout);
  return code;
}

}  // namespace vorn
