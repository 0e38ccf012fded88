#include "tools/DriveArgument.h"

#include <vector>

#include "device/DeviceDiscovery.h"
#include "device/DeviceExceptions.h"
#include "device/DriveAccess.h"
#include "device/DriveDiscovery.h"

namespace vorn {

std::optional<int> DriveArgumentNumber(const std::string& argument) {
  return ParseDriveName(argument);
}

std::unique_ptr<CSectorDevice> OpenDriveArgument(const std::string& argument, int number, bool unmount) {
  std::vector<DeviceEntry> drives;
  EnumerateDrives(drives);
  for (const DeviceEntry& entry : drives) {
    if (*entry.DriveNumber() != number) continue;
    auto device = std::make_unique<CDriveAccess>();
    device->SetMountPolicy(unmount ? MountPolicy::kUnmount : MountPolicy::kRefuse,
                           "Give --unmount to unmount it.");
    device->Open(entry);
    return device;
  }
  throw CUsbDeviceException(argument +
                            " is not offered: only a removable drive without a system filesystem "
                            "can be used (see 'vorn3ctl devices')");
}

}  // namespace vorn
