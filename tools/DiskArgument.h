#pragma once
// The DISK argument of vorn3ctl commands: names a disk and opens it.

#include <memory>
#include <string>

#include "device/SectorDevice.h"

namespace vorn {

// Opens the disk `argument` names: a disk image file (by its path), a drive
// that discovery offers, by its name "PhysicalDriveN" (any letter case), or an
// attached VORN unit by its name ("VORN3"), opened and identified.
// Throws CUsbDeviceException when it names nothing or cannot be opened.
std::unique_ptr<CSectorDevice> OpenDiskArgument(const std::string& argument);

}  // namespace vorn
