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

std::vector<ListedDevice> ListDevices();

}  // namespace vorn
