// vorn3ctl list: the routine table of a disk, as the window's routine list shows it.
#include <cstdio>
#include <string>

#include "disk/DiskText.h"
#include "disk/RoutineCells.h"
#include "disk/RoutineEdit.h"
#include "disk/VornDisk.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/JsonText.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

void PrintTable(const std::string& name, CSectorDevice& device, const CVornDisk& disk) {
  std::printf("%s: ", PrintableText(name).c_str());
  if (!disk.IsValid()) {
    std::printf("not formatted as a VORN disk\n");
    return;
  }
  std::printf("%zu routine%s, next free sector %u", disk.Table().size(),
              disk.Table().size() == 1 ? "" : "s", disk.NextFreeSector());
  if (device.GetSectorCount() != 0) std::printf(" of %u", device.GetSectorCount());
  std::printf("\n");
  if (disk.Table().empty()) return;

  const auto& columns = RoutineColumns();
  std::printf("%-16s  %9s  %15s  %15s  %s\n", columns[0].name, columns[1].name, columns[2].name,
              columns[3].name, columns[4].name);
  for (const RoutineEntry& entry : disk.Table()) {
    auto cells = RoutineCellTexts(entry);
    std::printf("%s  %9s  %15s  %15s  %s\n", PadRight(PrintableText(DiskTextToUtf8(cells[0])), 16).c_str(), cells[1].c_str(),
                cells[2].c_str(), cells[3].c_str(), cells[4].c_str());
  }
}

void PrintJson(const std::string& name, CSectorDevice& device, const CVornDisk& disk) {
  JsonDocument document = {{"disk", name}, {"formatted", disk.IsValid()}, {"sectorCount", device.GetSectorCount()}};
  if (disk.IsValid()) document["nextFreeSector"] = disk.NextFreeSector();
  JsonDocument routines = JsonDocument::array();
  for (const RoutineEntry& entry : disk.Table()) {
    const auto cells = RoutineCellTexts(entry);
    routines.push_back({{"title", DiskTextToUtf8(cells[0])},
                        {"sizeMB", cells[1]},
                        {"baudRate", cells[2]},
                        {"frameRate", cells[3]},
                        {"protocol", cells[4]},
                        {"startSector", entry.startSector},
                        {"dataSector", entry.dataSector},
                        {"endSector", entry.endSector},
                        {"baudCode", entry.baudCode},
                        {"frameRateMs", entry.frameRate},
                        {"protocolCode", entry.Protocol().Code()}});
  }
  document["routines"] = std::move(routines);
  std::fputs(JsonText(document).c_str(), stdout);
}

int Run(const CCommandLine& commandLine) {
  const std::string& argument = commandLine.Positional()[0];
  auto device = OpenDiskArgument(argument, ImageAccess::kRead, DiskOptionsOf(commandLine));
  CTerminalStatusLine status(stderr);
  CVornDisk disk(*device, &status);
  disk.ReadTable();
  // The table of a disk whose edit was cut short is the front of the new show.
  try {
    if (EditPending(DiskIdentity(*device))) {
      std::fprintf(stderr, "vorn3ctl: an edit of %s was interrupted; 'vorn3ctl recover %s' finishes it\n",
                   PrintableText(argument).c_str(), PrintableText(argument).c_str());
    }
  } catch (const CEditRecordError& error) {
    std::fprintf(stderr, "vorn3ctl: %s\n", error.what());
  }
  if (commandLine.Has("--json")) {
    PrintJson(device->GetName(), *device, disk);
  } else {
    PrintTable(device->GetName(), *device, disk);
  }
  device->Close();
  return kExitOk;
}

}  // namespace

Command ListCommand() {
  return {"list", "DISK [--json] [--unmount]", "show the routine table of a disk",
          "Columns as in the window: Title, Size (MB), Baud Rate (bps), Frame Rate (ms),\n"
          "Protocol. An unformatted disk lists no routines.",
          {{"--json", nullptr, "print the table as JSON, for scripts"}, kUnmountOption},
          1, 1, Run};
}

}  // namespace vorn
