#include "tools/DeviceListing.h"

#include "device/DeviceDiscovery.h"
#include "device/PhysicalDriveInfo.h"

namespace vorn {
namespace {

void AppendDrives(std::vector<ListedDevice>& devices) {
  std::vector<DeviceEntry> drives;
  EnumerateDrives(drives);
  for (const DeviceEntry& entry : drives) {
    devices.push_back({"drive", StripDevicePath(PhysicalDrivePath(*entry.DriveNumber())), entry.text});
  }
}

}  // namespace

std::vector<ListedDevice> ListDevices() {
  std::vector<ListedDevice> devices;
  AppendDrives(devices);
  return devices;
}

}  // namespace vorn
