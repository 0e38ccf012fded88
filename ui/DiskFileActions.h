#pragma once
// The window's file actions on a disk: a backup into an image file, a restore
// from one, a routine exported to a ".vorn" file. Files are written beside
// their target under a temporary name and renamed over it only when complete,
// so a failed or cut-short action leaves the target as it was; a disk image is
// never its own backup, restore source or export target.

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/SectorDevice.h"
#include "disk/RoutineEntry.h"
#include "platform/Cancel.h"
#include "platform/ProgressBar.h"

namespace vorn {

struct BackupSummary {
  std::size_t routines = 0;
  std::uint32_t sectors = 0;
};

// Copies the used sectors of `disk` (every sector when it is not a formatted
// VORN disk) to `target`. `diskPath` is the disk's image file, if it is one.
// A set cancel flag stops the copy with CCancelled; `target` is left as it was.
BackupSummary BackupDisk(CSectorDevice& disk, const std::string& diskPath, const std::string& target,
                         CProgressBar* progress, const CCancelFlag* cancel = nullptr);

// The routines of the backup image at `path`; throws when it is not a VORN disk image.
std::size_t BackupRoutineCount(const std::string& path);

// Writes the used sectors of the image at `source` onto `disk` (header last).
BackupSummary RestoreDisk(const std::string& source, CSectorDevice& disk, const std::string& diskPath,
                          CProgressBar* progress);

// Writes `entry` of `disk` to the routine file `target`; cancelled as a backup is.
void ExportRoutineFile(CSectorDevice& disk, const std::string& diskPath, const RoutineEntry& entry,
                       const std::string& target, CProgressBar* progress,
                       const CCancelFlag* cancel = nullptr);

}  // namespace vorn
