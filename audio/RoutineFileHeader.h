#pragma once
// The 68-byte header of a ".vorn" routine file (version 1), little-endian.

#include <array>
#include <cstdint>

namespace vorn {

struct RoutineFileHeader {
  static constexpr std::size_t kEncodedSize = 68;
  static constexpr std::size_t kTitleSize = 19;
  static constexpr std::uint32_t kAudioFormatMp3 = 1;

  std::uint8_t version = 1;
  std::array<char, kTitleSize> title{};  // NUL-terminated, at most 18 characters
  std::uint32_t audioFormat = 0;         // 1: MP3 frames, may be stored unchanged
  std::uint32_t audioSize = 0;
  std::uint32_t dataSize = 0;
  std::uint8_t frameRate = 0;
  std::uint8_t baudCode = 0;
  std::array<std::uint8_t, 32> controllerSettings{};
  std::array<std::uint8_t, 2> reserved{};

  void Encode(std::uint8_t* out) const;  // writes kEncodedSize bytes
  static RoutineFileHeader Decode(const std::uint8_t* in);
};

}  // namespace vorn
