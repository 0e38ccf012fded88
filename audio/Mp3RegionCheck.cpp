#include "audio/Mp3RegionCheck.h"

#include <algorithm>
#include <array>

#include "audio/Mp3FrameDecoder.h"
#include "audio/Mp3Frames.h"

namespace vorn {
namespace {

constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kUnpaddedFrameSize = 417;

}  // namespace

// Damage the decoder would conceal (a frame that reads past its data) is what
// the check looks for, so the decoder is strict.
CMp3RegionCheck::CMp3RegionCheck() : m_decoder(std::make_unique<CMp3FrameDecoder>(true)) {
  m_frame.reserve(kUnpaddedFrameSize + 1);
}

CMp3RegionCheck::~CMp3RegionCheck() = default;

void CMp3RegionCheck::Feed(const std::uint8_t* data, std::size_t size) {
  m_endFinder.Feed(data, size);
  std::size_t at = 0;
  while (m_walking && at < size) {
    if (m_frame.empty()) {
      m_frameStart = m_position + at;
    }
    const std::size_t want = m_frameSize == 0 ? kHeaderSize : m_frameSize;
    const std::size_t take = std::min(want - m_frame.size(), size - at);
    m_frame.insert(m_frame.end(), data + at, data + at + take);
    at += take;
    if (m_frame.size() < want) break;
    if (m_frameSize == 0) {
      if (!IsAcceptedFrameHeader(m_frame.data())) {
        m_walking = false;
        m_badHeader = m_frameStart;
        m_badHeaderFrame = m_frameIndex;
        break;
      }
      m_frameSize = kUnpaddedFrameSize + ((m_frame[2] >> 1) & 1u);
      continue;
    }
    DecodeFrame();
  }
  m_position += size;
}

void CMp3RegionCheck::DecodeFrame() {
  if (!m_decoder->Decode(m_frame.data(), m_frame.size())) {
    ++m_decodeErrors;
    if (!m_firstBadFrame) {
      m_firstBadFrame = m_frameIndex;
      m_firstBadFrameStart = m_frameStart;
    }
  }
  ++m_frameIndex;
  m_frame.clear();
  m_frameSize = 0;
}

Mp3RegionReport CMp3RegionCheck::Finish() {
  Mp3RegionReport report;
  report.dataBytes = m_endFinder.End();
  if (m_badHeader && *m_badHeader < report.dataBytes) {
    report.badHeaderByte = m_badHeader;
    report.badHeaderFrame = m_badHeaderFrame;
  }
  if (m_firstBadFrameStart && *m_firstBadFrameStart < report.dataBytes) {
    report.decodeErrors = m_decodeErrors;
    report.firstBadFrame = m_firstBadFrame;
  }
  return report;
}

}  // namespace vorn
