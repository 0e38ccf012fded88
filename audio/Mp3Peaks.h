#pragma once
// The waveform of a routine's MP3 region in one decoding pass: the lowest and
// highest sample (both channels) of each column of a fixed number of samples.
// Fed the region piece by piece as it comes off the disk, it hands out the
// columns in batches as they complete, so a picture can be drawn while the
// rest decodes. Only one frame and one batch are held: memory is the same for
// a routine of seconds or of hours (the number of columns is capped, and the
// samples per column grow with the region instead).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "audio/Mp3EndFinder.h"
#include "audio/Mp3FrameDecoder.h"

namespace vorn {

struct PeakColumn {
  std::int16_t low = 0;
  std::int16_t high = 0;
};

inline constexpr int kPeakSampleRate = 44100;
inline constexpr std::uint64_t kSamplesPerMp3Frame = 1152;
// At most this many columns for a whole routine (256 KiB of peaks).
inline constexpr std::uint64_t kMaxPeakColumns = 65536;
// Finer columns show nothing a screen could: 64 samples are 1.5 ms.
inline constexpr std::uint64_t kMinSamplesPerColumn = 64;

// The samples per column for a region of `regionBytes` bytes of the disk's MP3
// kind, from the most frames such a region can hold.
std::uint64_t SamplesPerColumnFor(std::uint64_t regionBytes);

struct Mp3PeaksReport {
  std::uint64_t samples = 0;    // decoded samples up to where the data ends (the filler left out)
  std::uint64_t dataBytes = 0;  // where the MP3 data ends
  std::optional<std::uint64_t> badHeaderByte;  // where the frames stopped walking, inside the data
  std::uint64_t decodeErrors = 0;              // frames the decoder concealed damage in
  std::optional<double> firstBadSeconds;
};

class CMp3Peaks {
 public:
  // Called with the index of the first column and the columns that completed.
  using BatchSink = std::function<void(std::uint64_t first, const std::vector<PeakColumn>& columns)>;

  CMp3Peaks(std::uint64_t samplesPerColumn, std::size_t batchColumns, BatchSink sink);
  ~CMp3Peaks();
  CMp3Peaks(const CMp3Peaks&) = delete;
  CMp3Peaks& operator=(const CMp3Peaks&) = delete;

  // The next bytes of the region, in order.
  void Feed(const std::uint8_t* data, std::size_t size);
  // After the last piece: hands out the last columns.
  Mp3PeaksReport Finish();
  // False once the frames stopped walking: the rest of the region is not audio.
  bool Walking() const { return m_walk.Walking(); }

 private:
  void DecodeFrame(const std::uint8_t* frame, std::size_t bytes, std::uint64_t start);
  // `samples` samples whose lowest and highest are given, all in the current column.
  void Take(std::int16_t low, std::int16_t high, std::uint64_t samples);
  void Emit();

  std::unique_ptr<CMp3FrameDecoder> m_decoder;
  CMp3EndFinder m_endFinder;
  std::uint64_t m_samplesPerColumn;
  std::size_t m_batchColumns;
  BatchSink m_sink;

  CMp3FrameWalk m_walk;
  std::uint64_t m_decodeErrors = 0;
  std::optional<std::uint64_t> m_firstBadFrame;
  std::vector<std::uint64_t> m_frameStarts;  // the last two, to trim the filler at the end
  std::vector<std::int16_t> m_samples;

  std::uint64_t m_sampleCount = 0;    // samples decoded
  PeakColumn m_column{};
  std::uint64_t m_inColumn = 0;       // samples in m_column
  std::uint64_t m_batchFirst = 0;     // index of m_batch's first column
  std::vector<PeakColumn> m_batch;
};

}  // namespace vorn
