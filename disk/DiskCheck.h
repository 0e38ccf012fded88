#pragma once
// A go/no-go check of a disk before the show: header and table, every sector
// of every routine, the MP3 audio (frames and decoding) and the control data
// (its protocol and its playing time against the audio's). Each routine is
// streamed in large pieces, so memory stays flat however long it is.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/SectorDevice.h"
#include "platform/Cancel.h"
#include "platform/ProgressBar.h"

namespace vorn {

enum class CheckLevel { kGreen, kAmber, kRed };

struct CheckFinding {
  CheckLevel level = CheckLevel::kGreen;
  std::optional<std::size_t> routine;  // 1-based; none for the disk as a whole
  std::string text;                    // what is wrong, or what was found sound
};

// "green", "amber", "red".
const char* CheckLevelName(CheckLevel level);
// The worst level among the findings (green for none).
CheckLevel WorstLevel(const std::vector<CheckFinding>& findings);

// Control data and audio may differ by this much before the unit cuts one short noticeably.
inline constexpr double kPlayingTimeTolerance = 1.0;

struct CheckOptions {
  // Also probe whether the card holds the sectors it claims (CapacityProbe.h):
  // it writes free sectors (and puts them back), so only when asked.
  bool capacity = false;
  // Runs 0 to 100 over the routines' sectors; may be null.
  CProgressBar* progress = nullptr;
};

// Checks the open device. Device errors become findings; only a set cancel
// flag ends the check early (CCancelled).
std::vector<CheckFinding> CheckDisk(CSectorDevice& device, const CCancelFlag* cancel = nullptr,
                                    const CheckOptions& options = {});

}  // namespace vorn
