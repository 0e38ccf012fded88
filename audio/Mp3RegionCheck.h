#pragma once
// Checks a routine's MP3 region as it streams past, piece by piece: the frame
// headers must walk as the disk's kind up to the sector filler, and every
// frame must decode without a decoder error. Only the frame being assembled and
// the end finder's last sector are kept, so a region of any length needs a few
// kilobytes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "audio/Mp3EndFinder.h"
#include "audio/Mp3FrameDecoder.h"

namespace vorn {

inline constexpr double kMp3FrameSeconds = 1152.0 / 44100.0;
inline constexpr double kMp3BytesPerSecond = 128000.0 / 8;

struct Mp3RegionReport {
  std::uint64_t dataBytes = 0;   // where the MP3 data ends (the filler begins)
  // The first header that is not of the disk's kind, inside the data.
  std::optional<std::uint64_t> badHeaderByte;
  std::optional<std::uint64_t> badHeaderFrame;
  std::uint64_t decodeErrors = 0;               // frames the decoder rejected
  std::optional<std::uint64_t> firstBadFrame;  // index of the first of them

  // The disk's kind is a constant 128 kbit/s, so the bytes give the time even
  // where the frames do not walk.
  double Seconds() const { return static_cast<double>(dataBytes) / kMp3BytesPerSecond; }
};

class CMp3RegionCheck {
 public:
  CMp3RegionCheck();  // throws the decoder's error when FFmpeg has no MP3 decoder
  ~CMp3RegionCheck();
  CMp3RegionCheck(const CMp3RegionCheck&) = delete;
  CMp3RegionCheck& operator=(const CMp3RegionCheck&) = delete;

  // The next bytes of the region, in order.
  void Feed(const std::uint8_t* data, std::size_t size);
  // After the whole region was fed.
  Mp3RegionReport Finish();

 private:
  std::unique_ptr<CMp3FrameDecoder> m_decoder;
  CMp3EndFinder m_endFinder;
  CMp3FrameWalk m_walk;
  // Decoder errors with the first one's start, which the filler's place may rule out.
  std::uint64_t m_decodeErrors = 0;
  std::optional<std::uint64_t> m_firstBadFrame;
  std::optional<std::uint64_t> m_firstBadFrameStart;
};

}  // namespace vorn
