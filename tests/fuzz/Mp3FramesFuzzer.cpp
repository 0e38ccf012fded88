// The MP3 frame walk on any bytes: the compatibility check agrees with a walk
// over the same bytes in memory, leaves the file where it found it and throws
// only where a frame header is cut off; the end finder gives the same end
// however the region is fed, and never one past it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "audio/Mp3EndFinder.h"
#include "audio/Mp3Frames.h"
#include "device/DeviceExceptions.h"
#include "platform/LittleEndian.h"
#include "platform/UniqueFile.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace vorn;

namespace {

constexpr long kLead = 3;  // bytes before the audio: the walk starts mid-file

// The walk done in memory: nothing when a header would be cut off; true only
// when every frame is accepted and the last one ends with the section.
std::optional<bool> WalkInMemory(const std::uint8_t* audio, std::size_t size, std::uint32_t audioSize) {
  bool result = false;
  std::uint64_t at = 0;
  while (at < audioSize) {
    if (at + 4 > size) return std::nullopt;
    if (!IsAcceptedFrameHeader(audio + at)) return false;
    result = true;
    at += 417 + ((audio[at + 2] >> 1) & 1u);
  }
  // A last frame running past the section is no whole MP3 of the disk's kind.
  return result && at == audioSize;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  RoutineFileHeader header;
  header.audioFormat = RoutineFileHeader::kAudioFormatMp3;
  header.audioSize = GetLe32(data);
  const std::uint8_t chunking = data[4];
  const std::uint8_t* audio = data + 5;
  const std::size_t audioBytes = size - 5;

  std::vector<std::uint8_t> file(kLead, 0xFF);
  file.insert(file.end(), audio, audio + audioBytes);
  const std::string path = vorn::fuzz::WriteScratch("audio.mp3", file.data(), file.size());
  CUniqueFile stream(std::fopen(path.c_str(), "rb"));
  VORN_FUZZ_CHECK(stream != nullptr);
  VORN_FUZZ_CHECK(std::fseek(stream.get(), kLead, SEEK_SET) == 0);
  std::optional<bool> walked;
  try {
    walked = IsCompatibleMp3(header, stream.get());
    VORN_FUZZ_CHECK(std::ftell(stream.get()) == kLead);
  } catch (const CFileAccessException&) {
  }
  VORN_FUZZ_CHECK(walked == WalkInMemory(audio, audioBytes, header.audioSize));

  CMp3EndFinder whole;
  whole.Feed(audio, audioBytes);
  CMp3EndFinder pieces;
  const std::size_t step = std::size_t{chunking} + 1;
  for (std::size_t at = 0; at < audioBytes; at += step) {
    pieces.Feed(audio + at, std::min(step, audioBytes - at));
  }
  VORN_FUZZ_CHECK(whole.End() == pieces.End());
  VORN_FUZZ_CHECK(whole.End() <= audioBytes);
  return 0;
}
