// vorn3ctl identify: what a disk says about itself; for a VORN unit the model,
// serial number and size from its identify block.
#include <cstdio>

#include "device/UsbDevice.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

int Run(const CCommandLine& commandLine) {
  auto device = OpenDiskArgument(commandLine.Positional()[0], ImageAccess::kRead, DiskOptionsOf(commandLine));
  if (!device->Identify()) {
    std::fprintf(stderr, "vorn3ctl: The disk did not confirm its identity.\n");
    device->Close();
    return kExitFailure;
  }
  if (const auto* unit = dynamic_cast<const CUsbDevice*>(device.get())) {
    std::printf("Model:  %s\n", PrintableText(unit->Model()).c_str());
    std::printf("Serial: %s\n", PrintableText(unit->Serial()).c_str());
  } else {
    std::printf("Name:   %s\n", PrintableText(device->GetName()).c_str());
  }
  const std::uint32_t sectors = device->GetSectorCount();
  std::printf("Size:   %u sectors (%.2f MB)\n", sectors, static_cast<double>(sectors) * kSectorSize / 1048576.0);
  device->Close();
  return kExitOk;
}

}  // namespace

Command IdentifyCommand() {
  return {"identify", "DISK [--unmount]", "show the model, serial number and size of a disk",
          "For a VORN unit (DISK = VORN3) the unit's identify block is read.",
          {kUnmountOption},
          1, 1, Run};
}

}  // namespace vorn
