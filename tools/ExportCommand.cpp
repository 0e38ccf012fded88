// vorn3ctl export: writes one routine of a disk back to a ".vorn" file
// (version 1), so a disk can be backed up and restored routine by routine.
#include <cstdio>
#include <string>

#include "device/DeviceExceptions.h"
#include "disk/RoutineExport.h"
#include "disk/VornDisk.h"
#include "platform/CheckedNumber.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/OutputFile.h"
#include "tools/StopSignals.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

int Run(const CCommandLine& commandLine) {
  const auto& arguments = commandLine.Positional();
  // Checked before the disk is read: the output must not be the disk.
  COutputFile file = OpenOutputFile(arguments[2], {arguments[0]}, commandLine.Has(kForceOption));
  auto device = OpenDiskArgument(arguments[0], ImageAccess::kRead, DiskOptionsOf(commandLine));
  CVornDisk disk(*device, nullptr);
  const auto& table = disk.ReadTable();
  if (!disk.IsValid()) throw CUsbDeviceException("The disk is not formatted as a VORN disk");
  const std::size_t index = ParseUnsigned(arguments[1], table.size()).value_or(0);
  if (index < 1) {
    throw CUsageError("INDEX must be a routine number from 1 to " + std::to_string(table.size()));
  }
  const RoutineEntry& entry = table[index - 1];
  // Ctrl-C stops the copy; the unfinished file is removed, the target untouched.
  CCancelFlag cancel;
  CStopSignals stopSignals(&cancel);
  const ExportedSizes sizes = ExportRoutine(*device, entry, file.Stream(), nullptr, &cancel);
  device->Close();
  file.Commit();
  std::printf("Exported routine %zu \"%s\" to %s: audio %u bytes, control data %u bytes\n", index,
              PrintableText(entry.DisplayTitle()).c_str(), PrintableText(arguments[2]).c_str(), sizes.audio,
              sizes.data);
  return kExitOk;
}

}  // namespace

Command ExportCommand() {
  return {"export", "DISK INDEX OUT.vorn [--force] [--unmount]", "write one routine of a disk to a .vorn file",
          "INDEX counts from 1 in the order 'list' shows. The MP3 is cut where the\n"
          "sector filler begins; the control data keeps its whole last sector.",
          {{kForceOption, nullptr, "replace OUT.vorn if it exists"}, kUnmountOption}, 3, 3, Run};
}

}  // namespace vorn
