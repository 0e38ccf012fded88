#include "audio/RoutineFileHeader.h"

#include <algorithm>
#include <cstring>

#include "platform/LittleEndian.h"

namespace vorn {
namespace {

// Byte offsets of the fields in the 68-byte record.
constexpr std::size_t kVersionAt = 0;
constexpr std::size_t kTitleAt = 1;
constexpr std::size_t kAudioFormatAt = 20;
constexpr std::size_t kAudioSizeAt = 24;
constexpr std::size_t kDataSizeAt = 28;
constexpr std::size_t kFrameRateAt = 32;
constexpr std::size_t kBaudCodeAt = 33;
constexpr std::size_t kSettingsAt = 34;
constexpr std::size_t kReservedAt = 66;

}  // namespace

void RoutineFileHeader::Encode(std::uint8_t* out) const {
  out[kVersionAt] = version;
  std::memcpy(out + kTitleAt, title.data(), kTitleSize);
  PutLe32(out + kAudioFormatAt, audioFormat);
  PutLe32(out + kAudioSizeAt, audioSize);
  PutLe32(out + kDataSizeAt, dataSize);
  out[kFrameRateAt] = frameRate;
  out[kBaudCodeAt] = baudCode;
  std::copy(controllerSettings.begin(), controllerSettings.end(), out + kSettingsAt);
  std::copy(reserved.begin(), reserved.end(), out + kReservedAt);
}

RoutineFileHeader RoutineFileHeader::Decode(const std::uint8_t* in) {
  RoutineFileHeader header;
  header.version = in[kVersionAt];
  std::memcpy(header.title.data(), in + kTitleAt, kTitleSize);
  header.audioFormat = GetLe32(in + kAudioFormatAt);
  header.audioSize = GetLe32(in + kAudioSizeAt);
  header.dataSize = GetLe32(in + kDataSizeAt);
  header.frameRate = in[kFrameRateAt];
  header.baudCode = in[kBaudCodeAt];
  std::copy_n(in + kSettingsAt, header.controllerSettings.size(), header.controllerSettings.begin());
  std::copy_n(in + kReservedAt, header.reserved.size(), header.reserved.begin());
  return header;
}

}  // namespace vorn
