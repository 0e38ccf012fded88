#pragma once
// Where the Linux drive back end looks: the sysfs root, the device node
// directory, the mount table and the swap table. Tests point these at fixture
// trees whose device nodes are image files.

#include <string>

namespace vorn {

struct DriveRoots {
  std::string sysfs = "/sys";
  std::string dev = "/dev";
  std::string mountinfo = "/proc/self/mountinfo";
  std::string swaps = "/proc/swaps";

  // The process default: the system paths, each overridable (a test hook) by
  // VORN_SYSFS_ROOT, VORN_DEV_ROOT, VORN_MOUNTINFO and VORN_SWAPS.
  static DriveRoots FromEnvironment();
};

}  // namespace vorn
