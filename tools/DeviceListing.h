#pragma once
// The disks a user can pick, in the order the window's device combo shows
// them: the offered drives first, then the attached VORN units.

#include <string>
#include <vector>

namespace vorn {

struct ListedDevice {
  std::string kind;  // "drive" or "unit"
  std::string name;  // what a DISK argument takes: PhysicalDrive2, VORN3
  std::string text;  // the combo text
};

// A unit that cannot be opened ends the unit walk: with `unitFailure` its
// message is stored there and the devices found before it are returned;
// without, its CUsbDeviceException is thrown.
std::vector<ListedDevice> ListPickableDisks(std::string* unitFailure = nullptr);

}  // namespace vorn
