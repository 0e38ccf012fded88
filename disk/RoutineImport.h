#pragma once
// Copying one section of a routine file to consecutive disk sectors.

#include <cstdint>
#include <cstdio>

#include "device/SectorDevice.h"
#include "platform/Cancel.h"
#include "platform/ProgressBar.h"

namespace vorn {

// Writes `byteCount` bytes read from `file` to the sectors from `firstSector`
// on, in 128-sector pieces; the tail of the last sector is filled from the start
// of the 512-byte `pattern`, or with zeros when there is none. The progress bar,
// if any, is set to the number of sectors written before each piece. False when
// the file ends (or fails) before `byteCount` bytes were read; the sectors of the
// pieces before that are written already. A set cancel flag ends the copy
// before the next piece with CCancelled.
bool WriteFromFile(CSectorDevice& device, std::FILE* file, std::uint32_t firstSector,
                   std::uint32_t byteCount, const std::uint8_t* pattern, CProgressBar* progress,
                   const CCancelFlag* cancel = nullptr);

}  // namespace vorn
