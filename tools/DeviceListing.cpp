#include "tools/DeviceListing.h"

#include "device/DeviceDiscovery.h"
#include "device/DeviceExceptions.h"
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

void AppendUnits(std::vector<ListedDevice>& devices, std::string* failure) {
  std::vector<DeviceEntry> units;
  try {
    EnumerateUnits(units);
  } catch (const CUsbDeviceException& error) {
    if (failure == nullptr) throw;
    *failure = error.GetMessage();
  }
  for (const DeviceEntry& entry : units) devices.push_back({"unit", entry.name, entry.text});
  FreeUnitEntries(units);
}

}  // namespace

std::vector<ListedDevice> ListPickableDisks(std::string* unitFailure) {
  std::vector<ListedDevice> devices;
  AppendDrives(devices);
  AppendUnits(devices, unitFailure);
  return devices;
}

}  // namespace vorn
