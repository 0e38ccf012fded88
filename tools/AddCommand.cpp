// vorn3ctl add: appends routines from ".vorn" files to a disk, as "Add routine..." does.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio/SegmentEncoder.h"
#include "disk/VornDisk.h"
#include "platform/CheckedNumber.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/OutputFile.h"
#include "tools/StopSignals.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

// --threads N: encoder workers per conversion; without it, as many as cores.
unsigned EncoderThreads(const CCommandLine& commandLine) {
  if (!commandLine.Has("--threads")) return 0;
  const auto threads = ParseUnsigned(commandLine.Value("--threads"), kMaxEncoderThreads);
  if (!threads || *threads == 0) {
    throw CUsageError("--threads needs a number from 1 to " + std::to_string(kMaxEncoderThreads));
  }
  return static_cast<unsigned>(*threads);
}

int Run(const CCommandLine& commandLine) {
  const bool quiet = commandLine.Has("--quiet");
  // Ctrl-C ends the import as the window's Cancel does: the routine being
  // written is left out, the temporary files go.
  CCancelFlag cancel;
  CStopSignals stopSignals(&cancel);
  ImportOptions import;
  import.threads = EncoderThreads(commandLine);
  import.cancel = &cancel;
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
  // One import: the files in order, the next one converted while one is
  // written; the first failure ends it, and the routines added before it stay
  // on the disk.
  const std::vector<std::string> files(arguments.begin() + 1, arguments.end());
  import.added = [&](std::size_t index) {
    if (quiet) return;
    const RoutineEntry& added = disk.Table().back();
    if (statusLine) {  // clear the bar's line for the report
      statusLine->SetRange(0, 0);
      statusLine->SetText({});
    }
    std::printf("Added \"%s\" as routine %zu (%u sectors) from %s\n",
                PrintableText(added.DisplayTitle()).c_str(), disk.Table().size(),
                added.endSector - added.startSector, PrintableText(files[index]).c_str());
    std::fflush(stdout);
  };
  disk.AddRoutines(files, statusLine.get(), import);
  VerifyWritten(verifier, *device, options, statusLine.get(), statusLine.get());
  device->Close();
  return kExitOk;
}

}  // namespace

Command AddCommand() {
  return {"add", "DISK FILE... [--yes] [--quiet] [--force] [--unmount] [--no-verify] [--threads N]",
          "append routines from .vorn files to a disk",
          "Imports the files in the order given, converting audio that is not yet of the\n"
          "disk's MP3 kind (the next file while one is written). Stops at the first file\n"
          "that fails; the routines added before it stay. An unformatted disk is\n"
          "formatted first (after asking). What was written to a drive or unit is read\n"
          "back at the end and compared.",
          {{"--yes", nullptr, "format an unformatted disk without asking"},
           {"--quiet", nullptr, "no progress bar and no line per added routine"},
           {"--force", nullptr, "use DISK even if it looks like a file of another kind"},
           kUnmountOption, kNoVerifyOption,
           {"--threads", "N",
            "encode on N threads (default: one per core, or $VORN_ENCODER_THREADS); "
            "1 gives exactly the lame command line's MP3"}},
          2, static_cast<std::size_t>(-1), Run};
}

}  // namespace vorn
