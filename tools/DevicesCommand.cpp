// vorn3ctl devices: the disks a user can pick, as the window's device combo lists them.
#include <cstdio>

#include "tools/Commands.h"
#include "tools/DeviceListing.h"
#include "tools/JsonText.h"

namespace vorn {
namespace {

int Run(const CCommandLine& commandLine) {
  const std::vector<ListedDevice> devices = ListDevices();
  if (commandLine.Has("--json")) {
    std::printf("[");
    for (std::size_t i = 0; i < devices.size(); ++i) {
      std::printf("%s\n  {\"kind\": %s, \"name\": %s, \"text\": %s}", i ? "," : "",
                  JsonString(devices[i].kind).c_str(), JsonString(devices[i].name).c_str(),
                  JsonString(devices[i].text).c_str());
    }
    std::printf("%s]\n", devices.empty() ? "" : "\n");
    return kExitOk;
  }
  for (const ListedDevice& device : devices) std::printf("%s\n", device.text.c_str());
  if (devices.empty()) std::fprintf(stderr, "No removable drive or VORN unit found.\n");
  return kExitOk;
}

}  // namespace

Command DevicesCommand() {
  return {"devices", "[--json]", "list the disks that can be picked: removable drives, then units",
          "The texts of the window's device combo. A drive is listed only when it is\n"
          "removable and holds no system filesystem; its name (PhysicalDriveN) works as\n"
          "DISK in the other commands. Raw drives need membership of the \"disk\" group.",
          {{"--json", nullptr, "print the list as JSON, for scripts"}},
          0, 0, Run};
}

}  // namespace vorn
