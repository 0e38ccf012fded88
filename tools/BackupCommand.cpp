// vorn3ctl backup: copies a disk (a card or a unit) into a new image file that
// every command, and `restore`, takes as a disk.

#include <cstdio>
#include <string>

#include "device/DeviceExceptions.h"
#include "disk/DiskCopy.h"
#include "disk/VornDisk.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/OutputFile.h"
#include "tools/StopSignals.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

int Run(const CCommandLine& commandLine) {
  const std::string& out = commandLine.Positional()[1];
  COutputFile file = OpenOutputFile(out, {commandLine.Positional()[0]}, commandLine.Has(kForceOption));
  auto device = OpenDiskArgument(commandLine.Positional()[0], ImageAccess::kRead, DiskOptionsOf(commandLine));

  CVornDisk disk(*device, nullptr);
  const std::size_t routines = disk.ReadTable().size();
  std::uint32_t sectors = commandLine.Has("--whole") ? 0 : UsedSectorCount(disk);
  if (sectors == 0) {
    // Asked for, or not a formatted VORN disk: nothing is known to be unused.
    sectors = device->GetSectorCount();
    if (sectors == 0) throw CUsbDeviceException("The disk does not report its size; nothing was copied");
  }

  // Ctrl-C stops the copy; the unfinished file is removed, the target untouched.
  CCancelFlag cancel;
  CStopSignals stopSignals(&cancel);
  CopyDiskToFile(*device, sectors, file, OptionalStatusLine(commandLine.Has("--quiet"), "Backing up").get(),
                 &cancel);
  device->Close();
  std::printf("Backed up %zu routine%s (%u sectors, %.2f MB) to %s\n", routines, routines == 1 ? "" : "s",
              sectors, sectors * double{kSectorSize} / 1048576.0, out.c_str());
  return kExitOk;
}

}  // namespace

Command BackupCommand() {
  return {"backup", "DISK IMAGE [--whole] [--quiet] [--force] [--unmount]", "copy a disk into a new image file",
          "Copies the sectors the disk uses (header, routines and table) into IMAGE,\n"
          "a new file that every command takes as a disk and `restore` writes back.\n"
          "A disk that is not formatted is copied whole. An existing IMAGE is replaced\n"
          "only with --force, and only once the copy went through.",
          {{"--whole", nullptr, "copy every sector of the disk, used or not"},
           {"--quiet", nullptr, "no progress bar"},
           {kForceOption, nullptr, "replace IMAGE if it exists"},
           kUnmountOption},
          2, 2, Run};
}

}  // namespace vorn
