// vorn3ctl format: makes a disk an empty VORN disk.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "device/ForeignSignatures.h"
#include "disk/VornDisk.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

int Run(const CCommandLine& commandLine) {
  const DiskOptions options = DiskOptionsOf(commandLine);
  auto device = OpenDiskArgument(commandLine.Positional()[0], ImageAccess::kWrite, options);
  RefuseForeignImage(*device, commandLine.Has("--force"));
  CVerifyingDevice verifier(*device);
  CTerminalStatusLine status(stderr);
  CVornDisk disk(verifier, &status);
  disk.ReadTable();
  const char* question = disk.IsValid()
                             ? "Are you sure you want to format the disk?"
                             : "This drive must be formatted as an VORN disk and will DELETE ALL DATA.\n\n"
                               "Do you wish to continue?";
  if (!ConfirmOnTerminal(question, commandLine.Has("--yes"))) {
    std::fprintf(stderr, "Nothing was changed.\n");
    return kExitFailure;
  }
  disk.Format();
  std::vector<ForeignSignature> erased;
  if (dynamic_cast<CImageDevice*>(device.get()) == nullptr) {
    erased = EraseForeignSignatures(verifier, std::max<std::uint64_t>(1, disk.NextFreeSector()));
  }
  VerifyWritten(verifier, *device, options, &status, &status);
  device->Close();
  std::printf("Formatted %s\n", PrintableText(commandLine.Positional()[0]).c_str());
  for (const ForeignSignature& signature : erased) {
    std::printf("Erased an old %s signature at byte %llu (left by an earlier format).\n",
                signature.type.c_str(), static_cast<unsigned long long>(signature.offset));
  }
  return kExitOk;
}

}  // namespace

Command FormatCommand() {
  return {"format", "DISK [--yes] [--force] [--unmount] [--no-verify]", "format a disk as an empty VORN disk",
          "Writes a new header; the routines on the disk are no longer listed.",
          {{"--yes", nullptr, "do not ask (needed when stdin is not a terminal)"},
           {"--force", nullptr, "format DISK even if it looks like a file of another kind"},
           kUnmountOption, kNoVerifyOption},
          1, 1, Run};
}

}  // namespace vorn
