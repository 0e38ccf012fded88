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
  // on the disk. A routine is reported added only once what was written has
  // been read back: a card that garbles writes must not have said "Added".
  const std::vector<std::string> files(arguments.begin() + 1, arguments.end());
  std::vector<std::string> reports;
  import.added = [&](std::size_t index) {
    const RoutineEntry& added = disk.Table().back();
    char line[160];
    std::snprintf(line, sizeof line, " as routine %zu (%u sectors) from ", disk.Table().size(),
                  added.endSector - added.startSector);
    reports.push_back("Added \"" + PrintableText(added.DisplayTitle()) + "\"" + line +
                      PrintableText(files[index]));
  };
  const auto report = [&](const char* suffix) {
    if (quiet) return;
    if (statusLine) {  // clear the bar's line for the report
      statusLine->SetRange(0, 0);
      statusLine->SetText({});
    }
    for (const std::string& line : reports) std::printf("%s%s\n", line.c_str(), suffix);
    std::fflush(stdout);
  };
  try {
    disk.AddRoutines(files, statusLine.get(), import);
  } catch (const CCancelled&) {
    report(" (not read back)");  // the user asked to stop, not to wait for the read-back
    throw;
  } catch (...) {
    // The routines before the failed file stay on the disk: they are read
    // back and reported as ever, then the failure is.
    VerifyWritten(verifier, *device, options, statusLine.get(), statusLine.get());
    report("");
    throw;
  }
  VerifyWritten(verifier, *device, options, statusLine.get(), statusLine.get());
  report("");
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
