// vorn3ctl show-set make: writes a show set of a disk's routines, the routines
// exported beside it, for `vorn3ctl sync` to put onto other disks.
#include <cstdio>
#include <string>

#include "disk/ShowSet.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/OutputFile.h"
#include "tools/StopSignals.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

int Run(const CCommandLine& commandLine) {
  const auto& arguments = commandLine.Positional();
  if (arguments[0] != "make") throw CUsageError("show-set knows one action, make, not '" + PrintableText(arguments[0]) + "'");
  const std::string& showSet = arguments[1];
  const std::string& diskName = arguments[2];
  RefuseSameFile(showSet, {diskName});
  if (showSet.empty() || showSet.back() == '/') throw CUsageError("'" + showSet + "' names no file");
  const bool force = commandLine.Has(kForceOption);
  CCancelFlag cancel;
  CStopSignals stopSignals(&cancel);
  auto device = OpenDiskArgument(diskName, ImageAccess::kRead, DiskOptionsOf(commandLine));
  CTerminalStatusLine status(stderr);
  const ShowSet set = MakeShowSet(*device, showSet, {diskName}, [force](const std::string& name) {
    if (force) return;
    throw CUsageError(name + " already exists: give --force to replace it");
  }, &status, &status, &cancel);
  device->Close();
  status.SetRange(0, 0);
  status.SetText({});
  std::printf("Wrote %s with %zu routines from %s\n", PrintableText(showSet).c_str(), set.routines.size(),
              PrintableText(diskName).c_str());
  return kExitOk;
}

}  // namespace

Command ShowSetCommand() {
  return {"show-set", "make SHOWSET DISK [--force]", "write a show set of a disk's routines (for sync)",
          "The routines are exported beside SHOWSET as NN-title.vorn files.",
          {{kForceOption, nullptr, "replace files that exist"}, kUnmountOption}, 3, 3, Run};
}

}  // namespace vorn
