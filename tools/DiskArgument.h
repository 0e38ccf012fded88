#pragma once
// The DISK argument of vorn3ctl commands: names a disk and opens it.

#include <memory>
#include <string>

#include "device/ImageDevice.h"
#include "device/SectorDevice.h"

namespace vorn {

// Opens the disk `argument` names: a disk image file (by its path), a drive
// that discovery offers, by its name "PhysicalDriveN" (any letter case), or an
// attached VORN unit by its name ("VORN3"), opened and identified.
// Throws CUsbDeviceException when it names nothing or cannot be opened.
// `access` says whether the command writes: an image is locked for it (shared
// to read, exclusive to write); drives and units are held exclusively anyway.
std::unique_ptr<CSectorDevice> OpenDiskArgument(const std::string& argument, ImageAccess access);

// For commands that format or write a disk: refuses an image file that is not
// a whole number of sectors or that starts like a file of another kind (a WAV,
// MP3, FLAC or Ogg file, a routine file), which was most likely named by
// mistake. `force` lets it through. Drives and units pass.
void RefuseForeignImage(CSectorDevice& device, bool force);

}  // namespace vorn
