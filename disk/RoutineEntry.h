#pragma once
// One record of the routine table: 62 bytes on the disk, little-endian, packed.

#include <array>
#include <cstdint>
#include <string>

#include "disk/ProtocolCode.h"

namespace vorn {

struct RoutineEntry {
  static constexpr std::size_t kEncodedSize = 62;
  static constexpr std::size_t kTitleSize = 16;

  std::array<char, kTitleSize> title{};  // NUL-terminated when shorter than 16
  std::uint32_t startSector = 0;         // first sector of the MP3
  std::uint32_t dataSector = 0;          // first sector of the control data
  std::uint32_t endSector = 0;           // first sector after the routine
  std::uint8_t frameRate = 0;            // frame period in ms
  std::uint8_t baudCode = 0;             // index into kBaudRates
  std::array<std::uint8_t, 32> controllerSettings{};

  void Encode(std::uint8_t* out) const;  // writes kEncodedSize bytes
  static RoutineEntry Decode(const std::uint8_t* in);

  std::string Title() const;  // up to 16 characters, ends at the first NUL
  std::string DisplayTitle() const;  // the same in UTF-8, for people to read
  ProtocolCode Protocol() const { return ProtocolCode(controllerSettings[0]); }
  std::uint64_t SizeBytes() const;  // (end - start) * 512

  bool operator==(const RoutineEntry&) const = default;
};

}  // namespace vorn
