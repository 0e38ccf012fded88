#pragma once
// Where the window gets its disks from: the two enumerations and the device
// classes that open their entries. The program uses the system's drives and
// USB units; tests may hand the window other disks.

#include <memory>
#include <vector>

#include "device/DeviceEntry.h"
#include "device/SectorDevice.h"

namespace vorn {

class CDeviceSource {
 public:
  virtual ~CDeviceSource() = default;

  // Empties `drives`, then lists the offered removable drives.
  virtual void EnumerateDrives(std::vector<DeviceEntry>& drives) = 0;
  // Empties `units`, then lists the attached units; may throw CUsbDeviceException,
  // keeping the entries found before the failing unit.
  virtual void EnumerateUnits(std::vector<DeviceEntry>& units) = 0;
  virtual void FreeUnitEntries(std::vector<DeviceEntry>& units) = 0;

  // New, unopened devices for a drive entry and a unit entry. Called from the
  // import worker too, so implementations must not touch shared state.
  virtual std::unique_ptr<CSectorDevice> NewDriveDevice() = 0;
  virtual std::unique_ptr<CSectorDevice> NewUnitDevice() = 0;
};

// The system's removable drives and VORN units.
std::unique_ptr<CDeviceSource> MakeSystemDeviceSource();

// No drives and no units: the window then offers only the disk images named in
// $VORN_DEMO_IMAGE (the README's picture, the latency benchmark).
std::unique_ptr<CDeviceSource> MakeNoDeviceSource();

}  // namespace vorn
