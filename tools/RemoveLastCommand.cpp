// vorn3ctl remove-last: removes the last routine of a disk.
#include <cstdio>

#include "disk/VornDisk.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

int Run(const CCommandLine& commandLine) {
  if (!ConfirmOnTerminal("Are you sure you want to remove the last track?", commandLine.Has("--yes"))) {
    std::fprintf(stderr, "Nothing was changed.\n");
    return kExitFailure;
  }
  auto device = OpenDiskArgument(commandLine.Positional()[0], ImageAccess::kWrite, DiskOptionsOf(commandLine));
  CTerminalStatusLine status(stderr);
  CVornDisk disk(*device, &status);
  disk.ReadTable();
  std::string title = disk.Table().empty() ? std::string() : disk.Table().back().DisplayTitle();
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
