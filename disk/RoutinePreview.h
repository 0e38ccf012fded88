#pragma once
// Reads a routine off a disk for its preview: the control data first (it is
// small, and capped for a routine whose table claims gigabytes of it), then
// the MP3 region in one decoding pass, whose waveform columns are handed out
// batch by batch. Memory stays flat in the routine's length; the disk is read
// in pieces that start small, so the first columns come within a fraction of
// a second, and the cancel flag is looked at between pieces.

#include <cstdint>
#include <functional>
#include <vector>

#include "device/SectorDevice.h"
#include "disk/RoutineEntry.h"
#include "disk/RoutinePicture.h"
#include "platform/Cancel.h"

namespace vorn {

// More control data than this is not decoded: at 20 ms and 32 servos it is
// hours of it. The notes say so.
inline constexpr std::uint64_t kMaxControlBytes = 64ull << 20;

struct PreviewSink {
  // Once, with the title, the waveform's geometry, the control data's lanes
  // and the notes known before the audio is decoded.
  std::function<void(const RoutinePicture& start)> started;
  // Columns [first, first + columns.size()) of the waveform.
  std::function<void(std::uint64_t first, const std::vector<PeakColumn>& columns)> peaks;
};

// Reads and decodes routine `entry` of `device`; returns the whole picture
// (the peaks included). A device error ends it by throwing (what was handed
// out so far stays valid); a set cancel flag throws CCancelled. Faults of the
// routine itself (sectors past the end, a frame period of 0, data that does
// not decode) become notes, not errors.
RoutinePicture PreviewRoutine(CSectorDevice& device, const RoutineEntry& entry, const PreviewSink& sink = {},
                              const CCancelFlag* cancel = nullptr);

// "1:02.5": minutes, seconds and tenths.
std::string PreviewTimeText(double seconds);

}  // namespace vorn
