// vorn3ctl check: a go/no-go check of a disk before the show.
#include <cstdio>
#include <string>

#include "disk/DiskCheck.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/JsonText.h"
#include "tools/StopSignals.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

// Exit status of a check that ran: red is a failure the show must not go on
// with, amber one it can with care; distinct from usage errors (2).
constexpr int kExitAmber = 3;

std::string Subject(const CheckFinding& finding) {
  return finding.routine ? "routine " + std::to_string(*finding.routine) : std::string("disk");
}

void PrintText(const std::string& name, const std::vector<CheckFinding>& findings) {
  std::size_t counts[3] = {0, 0, 0};
  for (const CheckFinding& finding : findings) {
    ++counts[static_cast<int>(finding.level)];
    std::printf("%-5s  %s: %s\n", CheckLevelName(finding.level), Subject(finding).c_str(),
                PrintableText(finding.text).c_str());
  }
  std::printf("%s: %s (%zu green, %zu amber, %zu red)\n", PrintableText(name).c_str(),
              CheckLevelName(WorstLevel(findings)), counts[0], counts[1], counts[2]);
}

void PrintJson(const std::string& name, const std::vector<CheckFinding>& findings) {
  JsonDocument list = JsonDocument::array();
  for (const CheckFinding& finding : findings) {
    JsonDocument item = {{"level", CheckLevelName(finding.level)}};
    item["routine"] = finding.routine ? JsonDocument(*finding.routine) : JsonDocument(nullptr);
    item["text"] = finding.text;
    list.push_back(std::move(item));
  }
  JsonDocument document = {{"disk", name}, {"result", CheckLevelName(WorstLevel(findings))}};
  document["findings"] = std::move(list);
  std::fputs(JsonText(document).c_str(), stdout);
}

int Run(const CCommandLine& commandLine) {
  CheckOptions options;
  options.capacity = commandLine.Has("--capacity");
  // The probe writes (and puts back) free sectors: the disk is held for
  // writing then, and a disk whose interrupted edit waits is refused, since
  // its free space may hold what that edit still needs.
  auto device = OpenDiskArgument(commandLine.Positional()[0], options.capacity ? ImageAccess::kWrite : ImageAccess::kRead,
                                 DiskOptionsOf(commandLine));
  CCancelFlag cancel;
  CStopSignals stopSignals(&cancel);
  const std::vector<CheckFinding> findings = CheckDisk(*device, &cancel, options);
  device->Close();
  if (commandLine.Has("--json")) {
    PrintJson(device->GetName(), findings);
  } else {
    PrintText(device->GetName(), findings);
  }
  switch (WorstLevel(findings)) {
    case CheckLevel::kGreen:
      return kExitOk;
    case CheckLevel::kAmber:
      return kExitAmber;
    case CheckLevel::kRed:
      break;
  }
  return kExitFailure;
}

}  // namespace

Command CheckCommand() {
  return {"check", "DISK [--json] [--capacity] [--unmount]", "check a disk before the show: green, amber or red",
          "Reads every sector of every routine, walks and decodes its MP3, checks its\n"
          "control data (MiniSSC commands, playing time against the audio's).\n"
          "With --capacity it also writes a pattern to free sectors spread over the\n"
          "whole size the card claims, reads them back and puts back what was there:\n"
          "a fake card that holds less than it claims is red. Routines and the table\n"
          "are never written. Off unless asked, for images too.\n"
          "One line per finding and a summary. Exit status: 0 all green, 1 red\n"
          "found (or the check could not run), 3 amber only.",
          {{"--json", nullptr, "print the findings as JSON, for scripts"},
           {"--capacity", nullptr, "also probe that the card holds the sectors it claims"},
           kUnmountOption},
          1, 1, Run};
}

}  // namespace vorn
