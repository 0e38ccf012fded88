#pragma once
// The six serial rates of the controller link and their one-byte codes, shared
// by the routine table, the routine file and the live server.

#include <array>
#include <cstdint>
#include <optional>

namespace vorn {

inline constexpr std::array<int, 6> kBaudRates = {2400, 4800, 9600, 19200, 38400, 250000};
inline constexpr int kDmxBaudRate = 250000;

// The rate of a code, or nothing for a code outside the table.
inline std::optional<int> BaudRateForCode(unsigned code) {
  if (code >= kBaudRates.size()) return std::nullopt;
  return kBaudRates[code];
}

// The code of a rate, or nothing for a rate outside the table.
inline std::optional<std::uint8_t> BaudCodeForRate(int rate) {
  for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
    if (kBaudRates[i] == rate) return static_cast<std::uint8_t>(i);
  }
  return std::nullopt;
}

}  // namespace vorn
