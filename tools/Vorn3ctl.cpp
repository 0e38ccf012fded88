#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "device/DeviceExceptions.h"
#include "platform/MessageBox.h"
#include "tools/Command.h"
#include "tools/StopSignals.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

constexpr std::size_t kMaxColumn = 24;  // a longer left column puts its help on the next line

// "  left    help" rows with the help column aligned over all rows.
void PrintRows(std::FILE* out, const std::vector<std::pair<std::string, std::string>>& rows) {
  std::size_t width = 0;
  for (const auto& row : rows) {
    if (row.first.size() <= kMaxColumn) width = std::max(width, row.first.size());
  }
  for (const auto& [left, help] : rows) {
    if (left.size() > width) {
      std::fprintf(out, "  %s\n  %*s  %s\n", left.c_str(), static_cast<int>(width), "", help.c_str());
    } else {
      std::fprintf(out, "  %-*s  %s\n", static_cast<int>(width), left.c_str(), help.c_str());
    }
  }
}

void PrintOverview(std::FILE* out) {
  std::fprintf(out,
               "Usage: vorn3ctl COMMAND [ARGUMENTS]\n"
               "Manages VORN disks from the command line.\n\nCommands:\n");
  std::vector<std::pair<std::string, std::string>> rows;
  for (const Command& command : Commands()) rows.emplace_back(command.name, command.summary);
  rows.emplace_back("help [COMMAND]", "show this overview, or the help of COMMAND");
  PrintRows(out, rows);
  std::fprintf(out,
               "\nOptions:\n"
               "  -h, --help  show this overview\n"
               "  --version   show the version\n"
               "\nDISK is a disk image file, a drive that 'vorn3ctl devices' lists (PhysicalDriveN),\n"
               "or the name of an attached VORN unit (VORN3).\n"
               "Run 'vorn3ctl help COMMAND' or 'vorn3ctl COMMAND --help' for the options of a command.\n"
               "\nExit status: 0 done, 1 failed (or a question answered No), 2 wrong usage.\n");
}

void PrintUsage(std::FILE* out, const Command& command) {
  std::fprintf(out, "Usage: vorn3ctl %s %s\n%s\n", command.name, command.arguments, command.summary);
  if (command.description && *command.description) std::fprintf(out, "\n%s\n", command.description);
  std::fprintf(out, "\nOptions:\n");
  std::vector<std::pair<std::string, std::string>> rows;
  for (const OptionSpec& option : command.options) {
    std::string left = option.name;
    if (option.value) left += std::string(" ") + option.value;
    rows.emplace_back(left, option.help);
  }
  rows.emplace_back("-h, --help", "show this help");
  PrintRows(out, rows);
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

// One line saying what is wrong, one saying where to look: the GNU way.
int UsageError(const std::string& message, const Command* command = nullptr) {
  std::fprintf(stderr, "vorn3ctl: %s%s\nTry 'vorn3ctl %s--help' for more information.\n",
               command ? (std::string(command->name) + ": ").c_str() : "", message.c_str(),
               command ? (std::string(command->name) + " ").c_str() : "");
  return kExitUsage;
}

int UnknownCommand(const std::string& word) {
  std::vector<std::string> names{"help"};
  for (const Command& command : Commands()) names.emplace_back(command.name);
  const std::string nearest = NearestWord(word, names);
  return UsageError("unknown command '" + PrintableText(word) + "'" +
                    (nearest.empty() ? std::string() : "; did you mean '" + nearest + "'?"));
}

int Help(const std::vector<std::string>& topics) {
  if (topics.empty()) {
    PrintOverview(stdout);
    return kExitOk;
  }
  if (topics.size() > 1) return UsageError("help takes one command");
  const Command* command = FindCommand(topics[0]);
  if (!command) return UnknownCommand(topics[0]);
  PrintUsage(stdout, *command);
  return kExitOk;
}

int RunOne(const Command& command, const std::vector<std::string>& args) {
  int code = kExitFailure;
  std::optional<std::string> usage;
  std::optional<std::string> failure;
  try {
    failure = FailureOf([&] {
      try {
        CCommandLine commandLine(args, command.options);
        std::size_t count = commandLine.Positional().size();
        if (count < command.minPositional) throw CUsageError("missing arguments");
        if (count > command.maxPositional) {
          throw CUsageError("unexpected argument '" + PrintableText(commandLine.Positional()[command.maxPositional]) + "'");
        }
        code = command.run(commandLine);
      } catch (const CUsageError& error) {
        usage = error.what();
      }
    });
  } catch (const CCancelled&) {
    failure.reset();
    usage.reset();
    code = kExitCancelled;
  }
  // A stop request also cuts short a wait that is no cancellable step (the
  // disk service's answer, a read of the terminal): the failure it caused
  // ("Interrupted system call") is the stop, and is reported as one.
  if (code == kExitCancelled || (failure && StopRequested())) {
    // Stopped on request: what the command was making has been taken back.
    std::fflush(stdout);
    std::fprintf(stderr, "vorn3ctl: %s: stopped; nothing of the unfinished step was kept\n", command.name);
    return kExitCancelled;
  }
  if (usage) return UsageError(*usage, &command);
  if (failure) {
    // Some texts end in a line break of their own (a box's text kept as it
    // was written); the line ends once.
    while (!failure->empty() && failure->back() == '\n') failure->pop_back();
    std::fflush(stdout);
    std::fprintf(stderr, "vorn3ctl: %s\n", failure->c_str());
    return kExitFailure;
  }
  return code;
}

}  // namespace

int RunVorn3ctl(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("missing command");
  const std::string& first = args[0];
  if (first == "--help" || first == "-h") return Help({});
  if (first == "help") return Help({args.begin() + 1, args.end()});
  if (first == "--version") {
    std::printf("vorn3ctl %s\n", VORN_VERSION);
    return kExitOk;
  }
  if (first.size() > 1 && first[0] == '-') return UsageError("unrecognized option '" + PrintableText(first) + "'");
  const Command* command = FindCommand(first);
  if (!command) return UnknownCommand(first);
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
