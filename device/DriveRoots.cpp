#include "device/DriveRoots.h"

#include <cstdlib>

namespace vorn {
namespace {

void Override(std::string& value, const char* variable) {
  const char* text = std::getenv(variable);
  if (text != nullptr && *text != '\0') value = text;
}

}  // namespace

DriveRoots DriveRoots::FromEnvironment() {
  DriveRoots roots;
  Override(roots.sysfs, "VORN_SYSFS_ROOT");
  Override(roots.dev, "VORN_DEV_ROOT");
  Override(roots.mountinfo, "VORN_MOUNTINFO");
  Override(roots.swaps, "VORN_SWAPS");
  return roots;
}

}  // namespace vorn
