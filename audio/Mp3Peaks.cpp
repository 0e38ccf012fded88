#include "audio/Mp3Peaks.h"

#include <algorithm>

#include "audio/Mp3FrameDecoder.h"
#include "audio/Mp3Frames.h"

namespace vorn {
namespace {

constexpr std::size_t kUnpaddedFrameSize = 417;

}  // namespace

std::uint64_t SamplesPerColumnFor(std::uint64_t regionBytes) {
  const std::uint64_t samples = (regionBytes / kUnpaddedFrameSize + 1) * kSamplesPerMp3Frame;
  return std::max(kMinSamplesPerColumn, (samples + kMaxPeakColumns - 1) / kMaxPeakColumns);
}

// Concealed, not refused: the picture shows what a player would play.
CMp3Peaks::CMp3Peaks(std::uint64_t samplesPerColumn, std::size_t batchColumns, BatchSink sink)
    : m_decoder(std::make_unique<CMp3FrameDecoder>(false)),
      m_samplesPerColumn(std::max<std::uint64_t>(1, samplesPerColumn)),
      m_batchColumns(std::max<std::size_t>(1, batchColumns)),
      m_sink(std::move(sink)) {
  m_batch.reserve(m_batchColumns);
}

CMp3Peaks::~CMp3Peaks() = default;

void CMp3Peaks::Feed(const std::uint8_t* data, std::size_t size) {
  m_endFinder.Feed(data, size);
  m_walk.Feed(data, size, [this](const std::uint8_t* frame, std::size_t bytes, std::uint64_t start) {
    DecodeFrame(frame, bytes, start);
  });
}

void CMp3Peaks::DecodeFrame(const std::uint8_t* frame, std::size_t bytes, std::uint64_t start) {
  if (!m_decoder->Decode(frame, bytes, &m_samples)) {
    if (m_decodeErrors++ == 0) m_firstBadFrame = m_walk.Frames();
  }
  if (m_frameStarts.size() == 2) m_frameStarts.erase(m_frameStarts.begin());
  m_frameStarts.push_back(start);
  // Whole stretches of a column at a time: the inner loop is a plain min/max.
  const std::size_t frames = m_samples.size() / 2;
  for (std::size_t i = 0; i < frames;) {
    const std::size_t take = static_cast<std::size_t>(
        std::min<std::uint64_t>(frames - i, m_samplesPerColumn - m_inColumn));
    std::int16_t low = m_samples[2 * i];
    std::int16_t high = low;
    for (std::size_t k = 2 * i; k < 2 * (i + take); ++k) {
      low = std::min(low, m_samples[k]);
      high = std::max(high, m_samples[k]);
    }
    Take(low, high, take);
    i += take;
  }
}

void CMp3Peaks::Take(std::int16_t low, std::int16_t high, std::uint64_t samples) {
  if (m_inColumn == 0) {
    m_column = {low, high};
  } else {
    m_column.low = std::min(m_column.low, low);
    m_column.high = std::max(m_column.high, high);
  }
  m_sampleCount += samples;
  m_inColumn += samples;
  if (m_inColumn == m_samplesPerColumn) {
    m_batch.push_back(m_column);
    m_inColumn = 0;
    if (m_batch.size() == m_batchColumns) Emit();
  }
}

void CMp3Peaks::Emit() {
  if (m_batch.empty()) return;
  if (m_sink) m_sink(m_batchFirst, m_batch);
  m_batchFirst += m_batch.size();
  m_batch.clear();
}

Mp3PeaksReport CMp3Peaks::Finish() {
  if (m_inColumn != 0) {
    m_batch.push_back(m_column);
    m_inColumn = 0;
  }
  Emit();
  Mp3PeaksReport report;
  report.dataBytes = m_endFinder.End();
  // The sector filler decodes to a silent frame that is not the routine's:
  // the length ends with the last frame that starts before it.
  std::uint64_t frames = m_walk.Frames();
  for (auto start = m_frameStarts.rbegin(); start != m_frameStarts.rend() && *start >= report.dataBytes; ++start) {
    --frames;
  }
  report.samples = std::min(m_sampleCount, frames * kSamplesPerMp3Frame);
  if (m_walk.BadHeader() && *m_walk.BadHeader() < report.dataBytes) report.badHeaderByte = m_walk.BadHeader();
  if (m_firstBadFrame && *m_firstBadFrame < frames) {
    report.decodeErrors = m_decodeErrors;
    report.firstBadSeconds = static_cast<double>(*m_firstBadFrame * kSamplesPerMp3Frame) / kPeakSampleRate;
  }
  return report;
}

}  // namespace vorn
