#include "disk/RoutineCells.h"

#include <cstdio>

#include "device/BaudRate.h"

namespace vorn {

const std::array<RoutineColumn, kRoutineColumnCount>& RoutineColumns() {
  static const std::array<RoutineColumn, kRoutineColumnCount> columns = {{
      {"Title", 150},
      {"Size (MB)", 75},
      {"Baud Rate (bps)", 100},
      {"Frame Rate (ms)", 100},
      {"Protocol", 100},
  }};
  return columns;
}

std::string SizeCellText(const RoutineEntry& entry) {
  char text[64];
  std::snprintf(text, sizeof text, "%0.2f", static_cast<double>(entry.SizeBytes()) / 1048576.0);
  return text;
}

std::string BaudRateCellText(const RoutineEntry& entry) {
  std::optional<int> rate = BaudRateForCode(entry.baudCode);
  if (!rate) return "Unknown";
  if (*rate == kDmxBaudRate) return "DMX";
  return std::to_string(*rate);
}

std::array<std::string, kRoutineColumnCount> RoutineCellTexts(const RoutineEntry& entry) {
  return {entry.Title(), SizeCellText(entry), BaudRateCellText(entry),
          std::to_string(entry.frameRate), entry.Protocol().Name()};
}

}  // namespace vorn
