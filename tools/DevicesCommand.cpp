// vorn3ctl devices: the disks a user can pick, as the window's device combo
// lists them, each with the name a DISK argument takes.
#include <cstdio>
#include <string>
#include <vector>

#include "device/DeviceDiscovery.h"
#include "device/DeviceExceptions.h"
#include "tools/Commands.h"
#include "tools/JsonText.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

int Run(const CCommandLine& commandLine) {
  const bool json = commandLine.Has("--json");
  std::vector<DeviceEntry> units;
  std::string failure;
  try {
    EnumerateUnits(units);
  } catch (const CUsbDeviceException& error) {
    // The units found before the failing one are still worth showing.
    failure = error.GetMessage();
  }

  if (json) std::printf("[");
  bool first = true;
  for (const DeviceEntry& unit : units) {
    if (json) {
      std::printf("%s\n  {\"kind\": \"unit\", \"name\": %s, \"text\": %s}", first ? "" : ",",
                  JsonString(unit.name).c_str(), JsonString(unit.text).c_str());
    } else {
      std::printf("%-8s %s\n", unit.name.c_str(), PrintableText(unit.text).c_str());
    }
    first = false;
  }
  if (json) std::printf("%s]\n", first ? "" : "\n");
  if (first && !json && failure.empty()) std::fprintf(stderr, "No devices found.\n");
  FreeUnitEntries(units);

  if (!failure.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", failure.c_str());
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

Command DevicesCommand() {
  return {"devices", "[--json]", "list the attached VORN units",
          "Each line gives the name to pass as DISK (VORN3) and the text the window\n"
          "shows: manufacturer - product (device number).",
          {{"--json", nullptr, "print the list as JSON, for scripts"}},
          0, 0, Run};
}

}  // namespace vorn
