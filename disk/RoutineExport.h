#pragma once
// One routine of a disk back to a ".vorn" file (version 1): the title, frame
// period, baud rate and controller settings from its table record, the MP3 cut
// where the import's sector filler begins, and the control data with its whole
// last sector (how much of it was data is not stored).

#include <cstdint>
#include <cstdio>

#include "device/SectorDevice.h"
#include "disk/RoutineEntry.h"
#include "platform/Cancel.h"
#include "platform/ProgressBar.h"

namespace vorn {

struct ExportedSizes {
  std::uint32_t audio = 0;
  std::uint32_t data = 0;
};

// Writes the routine to `out`, an empty file open for reading and writing, from
// its start. Throws CFileAccessException when the routine is too large for a
// routine file or `out` cannot be written, CCancelled before the next piece
// once `cancel` is set (`out` is then unfinished), and whatever the device throws.
ExportedSizes ExportRoutine(CSectorDevice& device, const RoutineEntry& entry, std::FILE* out,
                            CProgressBar* progress = nullptr, const CCancelFlag* cancel = nullptr);

}  // namespace vorn
