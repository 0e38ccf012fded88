// vorn3ctl add: appends routines from ".vorn" files to a disk, as "Add routine..." does.
#include <cstdio>
#include <memory>

#include "disk/VornDisk.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/OutputFile.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

int Run(const CCommandLine& commandLine) {
  const bool quiet = commandLine.Has("--quiet");
  const auto& arguments = commandLine.Positional();
  // A routine file that is the disk itself would be read while it is written.
  RefuseSameFile(arguments[0], {arguments.begin() + 1, arguments.end()});
  const DiskOptions options = DiskOptionsOf(commandLine);
  auto device = OpenDiskArgument(arguments[0], ImageAccess::kWrite, options);
  RefuseForeignImage(*device, commandLine.Has("--force"));
  CVerifyingDevice verifier(*device);
  // The status line draws only on a terminal; --quiet keeps it off there too.
  std::unique_ptr<CTerminalStatusLine> statusLine;
  if (!quiet) statusLine = std::make_unique<CTerminalStatusLine>(stderr);
  CVornDisk disk(verifier, statusLine.get());
  disk.ReadTable();
  if (!disk.IsValid() &&
      !ConfirmOnTerminal("This drive must be formatted as an VORN disk and will DELETE ALL DATA.\n\n"
                         "Do you wish to continue?",
                         commandLine.Has("--yes"))) {
    std::fprintf(stderr, "Nothing was changed.\n");
    return kExitFailure;
  }
  // One import: the files in order; the first failure ends it, and the
  // routines added before it stay on the disk.
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    disk.AddRoutine(arguments[i], statusLine.get());
    if (!quiet) {
      const RoutineEntry& added = disk.Table().back();
      if (statusLine) {  // clear the bar's line for the report
        statusLine->SetRange(0, 0);
        statusLine->SetText({});
      }
      std::printf("Added \"%s\" as routine %zu (%u sectors) from %s\n",
                  PrintableText(added.Title()).c_str(), disk.Table().size(),
                  added.endSector - added.startSector, PrintableText(arguments[i]).c_str());
    }
  }
  VerifyWritten(verifier, *device, options, statusLine.get(), statusLine.get());
  device->Close();
  return kExitOk;
}

}  // namespace

Command AddCommand() {
  return {"add", "DISK FILE... [--yes] [--quiet] [--force] [--unmount] [--no-verify]",
          "append routines from .vorn files to a disk",
          "Imports the files in the order given, converting audio that is not yet of the\n"
          "disk's MP3 kind. Stops at the first file that fails; the routines added before\n"
          "it stay. An unformatted disk is formatted first (after asking). What was\n"
          "written to a drive or unit is read back at the end and compared.",
          {{"--yes", nullptr, "format an unformatted disk without asking"},
           {"--quiet", nullptr, "no progress bar and no line per added routine"},
           {"--force", nullptr, "use DISK even if it looks like a file of another kind"},
           kUnmountOption, kNoVerifyOption},
          2, static_cast<std::size_t>(-1), Run};
}

}  // namespace vorn
