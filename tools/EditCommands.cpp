// vorn3ctl remove, move, replace, insert, retitle, set and recover: editing any
// routine of a disk, and finishing an edit that was cut short.
#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/BaudRate.h"
#include "device/DeviceExceptions.h"
#include "disk/RoutineEdit.h"
#include "disk/VornDisk.h"
#include "platform/CheckedNumber.h"
#include "platform/RegularFile.h"
#include "platform/UniqueFile.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/JsonText.h"
#include "tools/OutputFile.h"
#include "tools/StopSignals.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

constexpr OptionSpec kYes = {"--yes", nullptr, "do not ask (needed when stdin is not a terminal)"};
constexpr OptionSpec kJson = {"--json", nullptr, "print the new table as JSON, for scripts"};

// A position as `list` shows it (from 1), counted from 0.
std::size_t Position(const std::string& text) {
  const auto value = ParseUnsigned(text, 1u << 30);
  if (!value || *value == 0) throw CUsageError("a routine position is a number from 1, not '" + PrintableText(text) + "'");
  return static_cast<std::size_t>(*value - 1);
}

std::string Quoted(const RoutineEntry& entry) { return "\"" + PrintableText(entry.DisplayTitle()) + "\""; }

std::string Named(const std::vector<RoutineEntry>& table, std::size_t position) {
  if (position >= table.size()) return "routine " + std::to_string(position + 1);
  return "routine " + std::to_string(position + 1) + " " + Quoted(table[position]);
}

// What one command does to the table: builds the edit, says what it will do,
// and whether that must be asked first.
struct EditRequest {
  std::function<void(CRoutineEdit&)> build;
  std::function<std::string(const std::vector<RoutineEntry>&)> describe;
  bool ask = false;  // it drops a routine's data
};

void PrintResult(const CCommandLine& commandLine, const std::string& disk, const std::string& done,
                 const std::vector<RoutineEntry>& table, const EditReport& report) {
  if (commandLine.Has("--json")) {
    JsonDocument routines = JsonDocument::array();
    for (std::size_t k = 0; k < table.size(); ++k) {
      routines.push_back({{"position", k + 1},
                          {"title", table[k].DisplayTitle()},
                          {"startSector", table[k].startSector},
                          {"endSector", table[k].endSector}});
    }
    JsonDocument document = {{"disk", disk},
                             {"done", done},
                             {"movedSectors", report.movedSectors},
                             {"writtenSectors", report.writtenSectors},
                             {"routines", std::move(routines)}};
    std::fputs(JsonText(document).c_str(), stdout);
    return;
  }
  std::printf("%s; %zu routine%s on %s\n", done.c_str(), table.size(), table.size() == 1 ? "" : "s",
              PrintableText(disk).c_str());
}

// What every edit and recovery of the command line runs with: the terminal's
// status line for both the text and the progress, and Ctrl-C's flag.
EditOptions TerminalEditOptions(const std::string& identity, CTerminalStatusLine* status, const CCancelFlag* cancel) {
  EditOptions options;
  options.identity = identity;
  options.status = status;
  options.progress = status;
  options.cancel = cancel;
  return options;
}

// Finishes an interrupted edit of the disk after asking. False when there is
// none; true when there was one (finished, or the user said No).
bool OfferRecovery(CSectorDevice& device, const std::string& identity, const std::string& argument, bool yes,
                   CTerminalStatusLine* status, const CCancelFlag* cancel) {
  if (!EditPending(identity)) return false;
  if (!ConfirmOnTerminal("An edit of " + argument + " was interrupted and the disk holds part of the new show.\n"
                         "Finish the edit now?", yes)) {
    std::fprintf(stderr, "Nothing was changed; 'vorn3ctl recover %s' finishes it later.\n", argument.c_str());
    return true;
  }
  const EditOptions options = TerminalEditOptions(identity, status, cancel);
  switch (FinishEdit(device, options)) {
    case RecoveryOutcome::kFinished: std::printf("Finished the interrupted edit of %s\n", argument.c_str()); break;
    case RecoveryOutcome::kAlreadyDone: std::printf("The interrupted edit of %s was complete\n", argument.c_str()); break;
    case RecoveryOutcome::kNotStarted:
      std::printf("The interrupted edit of %s had not begun; the disk is as before it\n", argument.c_str());
      break;
    case RecoveryOutcome::kNothingPending: break;
  }
  return true;
}

int RunEdit(const CCommandLine& commandLine, const std::vector<std::string>& files, const EditRequest& request) {
  CCancelFlag cancel;
  CStopSignals stopSignals(&cancel);  // Ctrl-C: stop at the next safe point
  const std::string& argument = commandLine.Positional()[0];
  RefuseSameFile(argument, files);
  DiskOptions diskOptions = DiskOptionsOf(commandLine);
  diskOptions.pendingEditAllowed = true;  // offered to be finished below
  auto device = OpenDiskArgument(argument, ImageAccess::kWrite, diskOptions);
  const std::string identity = DiskIdentity(*device);
  CTerminalStatusLine status(stderr);
  if (OfferRecovery(*device, identity, argument, commandLine.Has("--yes"), &status, &cancel)) {
    std::fprintf(stderr, "vorn3ctl: the edit asked for was not made: check the table ('vorn3ctl list %s') and "
                 "run it again.\n", argument.c_str());
    return kExitFailure;
  }
  CVornDisk disk(*device, &status);
  disk.ReadTable();
  if (!disk.IsValid()) throw CEditError(device->GetName() + " is not formatted as a VORN disk; there is nothing to edit.");
  const std::vector<RoutineEntry> before = disk.Table();
  CRoutineEdit edit(before);
  request.build(edit);
  const std::string what = request.describe(before);
  if (request.ask && !ConfirmOnTerminal(what + " on " + argument + "?", commandLine.Has("--yes"))) {
    std::fprintf(stderr, "Nothing was changed.\n");
    return kExitFailure;
  }
  const EditOptions options = TerminalEditOptions(identity, &status, &cancel);
  EditReport report;
  try {
    report = ApplyEdit(disk, edit, options);
  } catch (const CCancelled&) {
    if (!EditPending(identity)) throw;  // stopped before the first write
    status.SetRange(0, 0);
    status.SetText({});
    std::fprintf(stderr, "vorn3ctl: stopped; %s shows the first routines of the new show until the edit is "
                 "finished: 'vorn3ctl recover %s'\n", argument.c_str(), argument.c_str());
    return kExitCancelled;
  } catch (const CVornError& error) {
    // A card pulled or failing half way: say how the edit is finished.
    if (dynamic_cast<const CEditRecordError*>(&error) || !EditPending(identity)) throw;
    throw CVornError(std::string(error.what()) + "\nThe edit is half done: 'vorn3ctl recover " + argument +
                     "' finishes it once the disk can be written again.");
  }
  device->Close();
  status.SetRange(0, 0);
  status.SetText({});
  std::string done = what;
  done[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(done[0])));
  PrintResult(commandLine, argument, done + ": done", disk.Table(), report);
  return kExitOk;
}

std::vector<std::string> From(const CCommandLine& commandLine, std::size_t first) {
  const auto& args = commandLine.Positional();
  return {args.begin() + static_cast<std::ptrdiff_t>(first), args.end()};
}

int RunRemove(const CCommandLine& commandLine) {
  std::vector<std::size_t> positions;
  for (const std::string& text : From(commandLine, 1)) positions.push_back(Position(text));
  return RunEdit(commandLine, {}, {[&](CRoutineEdit& e) { e.Remove(positions); },
                                   [&](const std::vector<RoutineEntry>& table) {
                                     std::string text = "remove";
                                     for (std::size_t k = 0; k < positions.size(); ++k) {
                                       text += (k == 0 ? " " : k + 1 == positions.size() ? " and " : ", ") +
                                               Named(table, positions[k]);
                                     }
                                     return text;
                                   },
                                   true});
}

int RunMove(const CCommandLine& commandLine) {
  const std::size_t from = Position(commandLine.Positional()[1]);
  const std::size_t to = Position(commandLine.Positional()[2]);
  return RunEdit(commandLine, {}, {[&](CRoutineEdit& e) { e.Move(from, to); },
                                   [&](const std::vector<RoutineEntry>& table) {
                                     return "move " + Named(table, from) + " to position " + std::to_string(to + 1);
                                   }});
}

int RunReplace(const CCommandLine& commandLine) {
  const std::size_t position = Position(commandLine.Positional()[1]);
  const std::string file = commandLine.Positional()[2];
  return RunEdit(commandLine, {file}, {[&](CRoutineEdit& e) { e.Replace(position, file); },
                                       [&](const std::vector<RoutineEntry>& table) {
                                         return "replace " + Named(table, position) + " by " + PrintableText(file);
                                       },
                                       true});
}

int RunInsert(const CCommandLine& commandLine) {
  const std::size_t position = Position(commandLine.Positional()[1]);
  const std::vector<std::string> files = From(commandLine, 2);
  return RunEdit(commandLine, files, {[&](CRoutineEdit& e) { e.Insert(position, files); },
                                      [&](const std::vector<RoutineEntry>&) {
                                        return "insert " + std::to_string(files.size()) + " routine" +
                                               (files.size() == 1 ? "" : "s") + " at position " +
                                               std::to_string(position + 1);
                                      }});
}

int RunRetitle(const CCommandLine& commandLine) {
  const std::size_t position = Position(commandLine.Positional()[1]);
  const std::string title = commandLine.Positional()[2];
  return RunEdit(commandLine, {}, {[&](CRoutineEdit& e) { e.Retitle(position, title); },
                                   [&](const std::vector<RoutineEntry>& table) {
                                     return "retitle " + Named(table, position) + " as \"" + PrintableText(title) + "\"";
                                   }});
}

std::uint8_t ByteOption(const CCommandLine& commandLine, const char* option) {
  const std::string text = commandLine.Value(option);
  const auto value = ParseUnsigned(text, 255);
  if (!value) throw CUsageError(std::string(option) + " wants a number from 0 to 255, not '" + PrintableText(text) + "'");
  return static_cast<std::uint8_t>(*value);
}

int RunSet(const CCommandLine& commandLine) {
  const std::size_t position = Position(commandLine.Positional()[1]);
  RoutineSettingsChange change;
  if (commandLine.Has("--frame-ms")) change.frameRate = ByteOption(commandLine, "--frame-ms");
  if (commandLine.Has("--protocol")) change.protocol = ByteOption(commandLine, "--protocol");
  if (commandLine.Has("--baud")) {
    const std::string text = commandLine.Value("--baud");
    const auto rate = text == "DMX" || text == "dmx" ? std::optional<std::uint64_t>(kDmxBaudRate)
                                                     : ParseUnsigned(text, kDmxBaudRate);
    const auto code = rate ? BaudCodeForRate(static_cast<int>(*rate)) : std::nullopt;
    if (!code) throw CUsageError("--baud wants 2400, 4800, 9600, 19200, 38400 or 250000 (DMX), not '" + PrintableText(text) + "'");
    change.baudCode = *code;
  }
  if (commandLine.Has("--settings")) {
    if (change.protocol) throw CUsageError("give --protocol or --settings, not both");
    const std::string path = commandLine.Value("--settings");
    std::string reason;
    CUniqueFile file = OpenRegularFileStream(path, reason);
    if (!file) throw CDriveAccessException("Could not open file " + path + ": " + reason);
    std::array<std::uint8_t, 32> settings{};
    char extra = 0;
    if (std::fread(settings.data(), 1, settings.size(), file.get()) != settings.size() ||
        std::fread(&extra, 1, 1, file.get()) != 0) {
      throw CFileAccessException("The controller settings file " + path + " must hold exactly 32 bytes");
    }
    change.controllerSettings = settings;
  }
  if (!change.frameRate && !change.protocol && !change.baudCode && !change.controllerSettings) {
    throw CUsageError("give at least one of --frame-ms, --baud, --protocol and --settings");
  }
  return RunEdit(commandLine, {}, {[&](CRoutineEdit& e) { e.ChangeSettings(position, change); },
                                   [&](const std::vector<RoutineEntry>& table) {
                                     return "change the settings of " + Named(table, position);
                                   }});
}

int RunRecover(const CCommandLine& commandLine) {
  CCancelFlag cancel;
  CStopSignals stopSignals(&cancel);
  const std::string& argument = commandLine.Positional()[0];
  DiskOptions diskOptions = DiskOptionsOf(commandLine);
  diskOptions.pendingEditAllowed = true;  // offered to be finished below
  auto device = OpenDiskArgument(argument, ImageAccess::kWrite, diskOptions);
  const std::string identity = DiskIdentity(*device);
  const bool json = commandLine.Has("--json");
  if (commandLine.Has("--discard")) {
    if (!ConfirmOnTerminal("Drop the record of the interrupted edit of " + argument +
                           " without finishing it? Routine data only the record holds is lost.",
                           commandLine.Has("--yes"))) {
      std::fprintf(stderr, "Nothing was changed.\n");
      return kExitFailure;
    }
    const bool dropped = DiscardEdit(identity);
    if (json) {
      std::fputs(JsonText({{"disk", argument}, {"pending", dropped}, {"outcome", dropped ? "dropped" : "none"}}).c_str(),
                 stdout);
    } else {
      std::printf(dropped ? "Dropped the record of the interrupted edit of %s\n"
                          : "No interrupted edit of %s; nothing to do\n",
                  PrintableText(argument).c_str());
    }
    return kExitOk;
  }
  bool pending = false;
  try {
    pending = EditPending(identity);
  } catch (const CEditRecordError& error) {
    throw CEditRecordError(std::string(error.what()) + " ('vorn3ctl recover " + argument +
                           " --discard' drops the record.)");
  }
  if (!pending) {
    if (json) {
      std::fputs(JsonText({{"disk", argument}, {"pending", false}}).c_str(), stdout);
    } else {
      std::printf("No interrupted edit of %s; nothing to do\n", PrintableText(argument).c_str());
    }
    return kExitOk;
  }
  CTerminalStatusLine status(stderr);
  if (!ConfirmOnTerminal("Finish the interrupted edit of " + argument + "?", commandLine.Has("--yes"))) {
    std::fprintf(stderr, "Nothing was changed.\n");
    return kExitFailure;
  }
  const EditOptions options = TerminalEditOptions(identity, &status, &cancel);
  RecoveryOutcome outcome = RecoveryOutcome::kNothingPending;
  try {
    outcome = FinishEdit(*device, options);
  } catch (const CEditRecordError& error) {
    throw CEditRecordError(std::string(error.what()) + " ('vorn3ctl recover " + argument +
                           " --discard' drops the record.)");
  }
  device->Close();
  status.SetRange(0, 0);
  status.SetText({});
  const char* said = outcome == RecoveryOutcome::kFinished      ? "finished"
                     : outcome == RecoveryOutcome::kAlreadyDone ? "was complete already"
                                                                : "had not begun; the disk is as before it";
  if (json) {
    std::fputs(JsonText({{"disk", argument}, {"pending", true}, {"outcome", said}}).c_str(), stdout);
  } else {
    std::printf("The interrupted edit of %s %s\n", PrintableText(argument).c_str(), said);
  }
  return kExitOk;
}

}  // namespace

std::vector<Command> EditCommands() {
  const std::vector<OptionSpec> common = {kYes, kJson, kUnmountOption};
  return {
      {"remove", "DISK N... [--yes] [--json] [--unmount]", "remove routines at any positions",
       "Positions as 'list' shows them. The routines behind move down to close the gap.", common, 2,
       static_cast<std::size_t>(-1), RunRemove},
      {"move", "DISK FROM TO [--json] [--unmount]", "move a routine to another position", "", common, 3, 3, RunMove},
      {"replace", "DISK N FILE [--yes] [--json] [--unmount]", "replace a routine by a .vorn file",
       "The file's audio is converted as 'add' converts it.", common, 3, 3, RunReplace},
      {"insert", "DISK N FILE... [--json] [--unmount]", "insert routines from .vorn files at a position",
       "The first file becomes routine N; N one past the last appends.", common, 3, static_cast<std::size_t>(-1),
       RunInsert},
      {"retitle", "DISK N TITLE [--json] [--unmount]", "change the title of a routine",
       "At most 16 characters of the disk's code page (Windows-1252).", common, 3, 3, RunRetitle},
      {"set", "DISK N [--frame-ms MS] [--baud RATE] [--protocol CODE | --settings FILE] [--json] [--unmount]",
       "change the settings of a routine", "",
       {kYes, kJson, kUnmountOption, {"--frame-ms", "MS", "frame period in milliseconds (0-255)"},
        {"--baud", "RATE", "2400, 4800, 9600, 19200, 38400 or 250000 (DMX)"},
        {"--protocol", "CODE", "protocol code, the first controller setting byte (0-255)"},
        {"--settings", "FILE", "all 32 controller setting bytes, from a file of exactly 32 bytes"}},
       2, 2, RunSet},
      {"recover", "DISK [--yes] [--discard] [--json] [--unmount]", "finish an edit of a disk that was interrupted",
       "Does nothing, successfully, when no edit of DISK is waiting. A record that does\n"
       "not match the disk (damaged, of another disk, the disk changed since) is not\n"
       "applied; --discard drops it.",
       {kYes, kJson, kUnmountOption,
        {"--discard", nullptr, "drop the record without finishing the edit (asks first)"}},
       1, 1, RunRecover},
  };
}

}  // namespace vorn
