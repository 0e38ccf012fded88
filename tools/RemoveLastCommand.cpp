// vorn3ctl remove-last: removes the last routine of a disk.
#include <cstdio>
#include <string>

#include "device/DeviceExceptions.h"

#include "disk/VornDisk.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

int Run(const CCommandLine& commandLine) {
  const bool yes = commandLine.Has("--yes");
  RequireConfirmation(yes);
  auto device = OpenDiskArgument(commandLine.Positional()[0], ImageAccess::kWrite, DiskOptionsOf(commandLine));
  CTerminalStatusLine status(stderr);
  CVornDisk disk(*device, &status);
  disk.ReadTable();
  if (disk.Table().empty()) throw CUsbDeviceException("Too few tracks");
  // The question names what goes, so nobody removes a routine they meant to keep.
  const std::string title = disk.Table().back().DisplayTitle();
  if (!ConfirmOnTerminal("Are you sure you want to remove the last track, \"" + PrintableText(title) +
                             "\" (routine " + std::to_string(disk.Table().size()) + ")?",
                         yes)) {
    std::fprintf(stderr, "Nothing was changed.\n");
    return kExitFailure;
  }
  disk.RemoveLastRoutine();
  device->Close();
  std::printf("Removed \"%s\"; %zu routine%s left\n", PrintableText(title).c_str(), disk.Table().size(),
              disk.Table().size() == 1 ? "" : "s");
  return kExitOk;
}

}  // namespace

Command RemoveLastCommand() {
  return {"remove-last", "DISK [--yes] [--unmount]", "remove the last routine of a disk",
          "", {{"--yes", nullptr, "do not ask (needed when stdin is not a terminal)"}, kUnmountOption},
          1, 1, Run};
}

}  // namespace vorn
