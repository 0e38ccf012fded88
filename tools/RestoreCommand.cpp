// vorn3ctl restore: writes a backup image (from `backup`, or any VORN disk
// image) onto a disk.
#include <cstdio>
#include <string>

#include "device/DeviceExceptions.h"
#include "device/ImageDevice.h"
#include "disk/DiskCopy.h"
#include "disk/VornDisk.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/OutputFile.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

int Run(const CCommandLine& commandLine) {
  const std::string& imagePath = commandLine.Positional()[0];
  const std::string& diskName = commandLine.Positional()[1];
  RefuseSameFile(diskName, {imagePath});

  CImageDevice image(imagePath, /*durable=*/false, ImageAccess::kRead);
  image.Open(CImageDevice::EntryFor(imagePath));
  // Only a VORN disk is restored: a wrong file must not wipe a card.
  CVornDisk backup(image, nullptr);
  const std::size_t routines = backup.ReadTable().size();
  const std::uint32_t sectors = UsedSectorCount(backup);
  if (sectors == 0) throw CUsbDeviceException(imagePath + " is not a VORN disk image; nothing was changed");
  // Everything is checked before the first write: a restore that fails part
  // way leaves the disk unformatted, its routines gone.
  if (image.GetSectorCount() < sectors) {
    throw CUsbDeviceException(imagePath + " is cut short: its routines and table reach sector " +
                              std::to_string(sectors) + ", the image holds " +
                              std::to_string(image.GetSectorCount()) + " sectors; nothing was changed");
  }

  const DiskOptions options = DiskOptionsOf(commandLine);
  auto device = OpenDiskArgument(diskName, ImageAccess::kWrite, options);
  RefuseForeignImage(*device, commandLine.Has("--force"));
  const std::uint32_t room = device->GetSectorCount();
  if (room != 0 && room < sectors) {
    throw CUsbDeviceException("The disk is too small: it holds " + std::to_string(room) +
                              " sectors, the image needs " + std::to_string(sectors) +
                              "; nothing was changed");
  }
  if (!ConfirmOnTerminal("The disk will be overwritten with the " + std::to_string(routines) +
                             " routine" + (routines == 1 ? "" : "s") + " of " + imagePath +
                             " and its routines will be lost.\nDo you wish to continue?",
                         commandLine.Has("--yes"))) {
    std::fprintf(stderr, "Nothing was changed.\n");
    return kExitFailure;
  }
  CVerifyingDevice verifier(*device);
  const auto statusLine = OptionalStatusLine(commandLine.Has("--quiet"), "Restoring");
  CopyDisk(image, verifier, sectors, statusLine.get());
  VerifyWritten(verifier, *device, options, statusLine.get(), statusLine.get());
  device->Close();
  image.Close();
  std::printf("Restored %zu routine%s (%u sectors) onto %s\n", routines, routines == 1 ? "" : "s", sectors,
              diskName.c_str());
  return kExitOk;
}

}  // namespace

Command RestoreCommand() {
  return {"restore", "IMAGE DISK [--yes] [--quiet] [--force] [--unmount] [--no-verify]", "write a backup image onto a disk",
          "Writes the used sectors of IMAGE, a VORN disk image such as `backup` makes,\n"
          "onto DISK, which must be large enough. The disk's header goes last: a\n"
          "restore cut short leaves the disk unformatted, never half old, half new.",
          {{"--yes", nullptr, "do not ask (needed when stdin is not a terminal)"},
           {"--quiet", nullptr, "no progress bar"},
           {"--force", nullptr, "write DISK even if it looks like a file of another kind"},
           kUnmountOption, kNoVerifyOption},
          2, 2, Run};
}

}  // namespace vorn
