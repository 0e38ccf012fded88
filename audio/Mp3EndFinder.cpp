#include "audio/Mp3EndFinder.h"

#include <algorithm>

#include "audio/Mp3Frames.h"

namespace vorn {
namespace {

constexpr std::size_t kSector = 512;
constexpr std::size_t kTailKeep = kSector - 1;  // the filler fills 1..511 bytes
constexpr std::uint64_t kUnpaddedFrameSize = 417;
// Without a frame boundary to go by, a match shorter than a frame header could
// be audio bytes that merely look like the filler's start.
constexpr std::size_t kMinimumLooseMatch = 4;

}  // namespace

void CMp3EndFinder::Feed(const std::uint8_t* data, std::size_t size) {
  const std::uint64_t chunkStart = m_size;
  const std::uint64_t chunkEnd = m_size + size;
  while (m_walking) {
    const std::uint64_t position = m_nextFrame + m_headerBytes;
    if (position >= chunkEnd) break;
    if (m_headerBytes == 0) {
      m_lastFrames[m_frameCount % m_lastFrames.size()] = m_nextFrame;
      ++m_frameCount;
    }
    m_header[m_headerBytes++] = data[position - chunkStart];
    if (m_headerBytes == m_header.size()) {
      m_headerBytes = 0;
      if (!IsAcceptedFrameHeader(m_header.data())) {
        m_walking = false;
      } else {
        m_nextFrame += kUnpaddedFrameSize + ((m_header[2] >> 1) & 1u);
      }
    }
  }

  m_tail.insert(m_tail.end(), data, data + size);
  if (m_tail.size() > 4 * kSector) m_tail.erase(m_tail.begin(), m_tail.end() - kTailKeep);
  m_size = chunkEnd;
}

bool CMp3EndFinder::TailMatchesFiller(std::uint64_t position, std::size_t minimum) const {
  if (position > m_size) return false;
  const std::uint64_t length = m_size - position;
  if (length < minimum || length >= kSector || length > m_tail.size()) return false;
  return std::equal(m_tail.end() - static_cast<std::ptrdiff_t>(length), m_tail.end(),
                    g_mp3SectorFiller.begin());
}

std::uint64_t CMp3EndFinder::End() const {
  // A frame that starts the filler marks the end exactly.
  const std::size_t known = std::min(m_frameCount, m_lastFrames.size());
  std::vector<std::uint64_t> starts(m_lastFrames.begin(), m_lastFrames.begin() + known);
  std::sort(starts.begin(), starts.end());
  for (std::uint64_t start : starts) {
    if (TailMatchesFiller(start, 1)) return start;
  }
  // Frames to the last byte: the data filled its last sector, nothing was padded.
  if (m_walking && m_headerBytes == 0 && m_nextFrame == m_size) return m_size;
  // The last frame was cut (audio passed through at its stated size), so the
  // filler starts inside it: take the earliest place the tail matches.
  const std::uint64_t first = m_size > kTailKeep ? m_size - kTailKeep : 0;
  for (std::uint64_t position = first; position < m_size; ++position) {
    if (TailMatchesFiller(position, kMinimumLooseMatch)) return position;
  }
  return m_size;
}

}  // namespace vorn
