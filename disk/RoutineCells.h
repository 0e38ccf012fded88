#pragma once
// The texts the routine list shows for one routine, shared by the window and
// vorn3ctl so both show the same thing.

#include <array>
#include <string>

#include "disk/RoutineEntry.h"

namespace vorn {

inline constexpr std::size_t kRoutineColumnCount = 5;

struct RoutineColumn {
  const char* name;
  int width;  // pixels in the window
};

// "Title", "Size (MB)", "Baud Rate (bps)", "Frame Rate (ms)", "Protocol".
const std::array<RoutineColumn, kRoutineColumnCount>& RoutineColumns();

// Size in MB with two decimals, e.g. "1.00" for 2048 sectors.
std::string SizeCellText(const RoutineEntry& entry);
// The rate in bit/s, "DMX" for the DMX rate, "Unknown" for a code outside the table.
std::string BaudRateCellText(const RoutineEntry& entry);

// The five cell texts of a routine, in column order.
std::array<std::string, kRoutineColumnCount> RoutineCellTexts(const RoutineEntry& entry);

}  // namespace vorn
