#pragma once
// Discovery of the disks a user can pick: offered removable drives and attached
// VORN units, each as a DeviceEntry the matching device class opens.

#include <vector>

#include "device/DeviceEntry.h"

namespace vorn {

// Empties `drives`, then appends one entry per offered removable drive, in the
// drive table's walk order (drive numbers 15..0, then 25..16).
void EnumerateDrives(std::vector<DeviceEntry>& drives);

// Empties `units`, then appends one entry per attached VORN unit in bus order.
// A unit that cannot be opened ends the walk with its CUsbDeviceException; the
// entries appended before it stay.
void EnumerateUnits(std::vector<DeviceEntry>& units);

// Frees the record copies of a unit list and empties it.
void FreeUnitEntries(std::vector<DeviceEntry>& units);

}  // namespace vorn
