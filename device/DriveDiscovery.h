#pragma once
// The drive half of discovery: which drives are offered, and their combo texts.
// EnumerateDrives itself is declared in device/DeviceDiscovery.h.

#include <optional>
#include <string>
#include <vector>

#include "device/DeviceEntry.h"
#include "device/DriveSource.h"
#include "device/DriveTable.h"

namespace vorn {

// Empties `drives`, scans `source` and appends one entry per offered drive in
// the table's walk order.
void EnumerateDrives(std::vector<DeviceEntry>& drives, CDriveSource& source);

// A drive is offered when the drive itself is removable, every volume on it is
// removable, it holds neither C: nor any other system filesystem or swap, and
// its geometry is valid.
bool IsOfferedDrive(const CDriveTable& table, const PhysicalDriveInfo& drive);

// "PhysicalDrive2 (1024.00MB) (E:, F:)", followed by " - Generic STORAGE
// DEVICE, 1.1 GB" when the system names the drive's vendor or model.
std::string DriveEntryText(const PhysicalDriveInfo& drive);

// The drive number of a name "PhysicalDriveN" (any letter case), or none.
std::optional<int> ParseDriveName(const std::string& name);

}  // namespace vorn
