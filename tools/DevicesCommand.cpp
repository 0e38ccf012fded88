// vorn3ctl devices: the disks a user can pick, as the window's device combo lists them.
#include <cstdio>
#include <string>

#include "tools/Commands.h"
#include "tools/DeviceListing.h"
#include "tools/JsonText.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

// A unit's combo text does not hold its name; the line then starts with it.
std::string LineOf(const ListedDevice& device) {
  if (device.text.compare(0, device.name.size(), device.name) == 0) return device.text;
  return device.name + ": " + device.text;
}

int Report(const std::string& unitFailure) {
  if (unitFailure.empty()) return kExitOk;
  std::fflush(stdout);
  std::fprintf(stderr, "vorn3ctl: %s\n", unitFailure.c_str());
  return kExitFailure;
}

int Run(const CCommandLine& commandLine) {
  std::string unitFailure;
  const std::vector<ListedDevice> devices = ListPickableDisks(&unitFailure);
  if (commandLine.Has("--json")) {
    JsonDocument document = JsonDocument::array();
    for (const ListedDevice& device : devices) {
      document.push_back({{"kind", device.kind}, {"name", device.name}, {"text", device.text}});
    }
    std::fputs(JsonText(document).c_str(), stdout);
    return Report(unitFailure);
  }
  for (const ListedDevice& device : devices) std::printf("%s\n", PrintableText(LineOf(device)).c_str());
  if (devices.empty() && unitFailure.empty()) std::fprintf(stderr, "No removable drive or VORN unit found.\n");
  return Report(unitFailure);
}

}  // namespace

Command DevicesCommand() {
  return {"devices", "[--json]", "list the disks that can be picked: removable drives, then units",
          "The texts of the window's device combo. A drive is listed only when it is\n"
          "removable and holds no system filesystem; its name (PhysicalDriveN) works as\n"
          "DISK in the other commands. Without root or the \"disk\" group, a drive is\n"
          "opened through udisks2, which may ask for an administrator's password; a card\n"
          "the desktop mounted is refused unless the command is given --unmount.\n"
          "A unit's line starts with its name (VORN3), which works as DISK as well.",
          {{"--json", nullptr, "print the list as JSON, for scripts"}},
          0, 0, Run};
}

}  // namespace vorn
