#include "audio/Mp3RegionCheck.h"

#include <algorithm>
#include <array>

#include "audio/Mp3FrameDecoder.h"
#include "audio/Mp3Frames.h"

namespace vorn {
// Damage the decoder would conceal (a frame that reads past its data) is what
// the check looks for, so the decoder is strict.
CMp3RegionCheck::CMp3RegionCheck() : m_decoder(std::make_unique<CMp3FrameDecoder>(true)) {}

CMp3RegionCheck::~CMp3RegionCheck() = default;

void CMp3RegionCheck::Feed(const std::uint8_t* data, std::size_t size) {
  m_endFinder.Feed(data, size);
  m_walk.Feed(data, size, [this](const std::uint8_t* frame, std::size_t bytes, std::uint64_t start) {
    if (m_decoder->Decode(frame, bytes)) return;
    ++m_decodeErrors;
    if (!m_firstBadFrame) {
      m_firstBadFrame = m_walk.Frames();
      m_firstBadFrameStart = start;
    }
  });
}

Mp3RegionReport CMp3RegionCheck::Finish() {
  Mp3RegionReport report;
  report.dataBytes = m_endFinder.End();
  if (m_walk.BadHeader() && *m_walk.BadHeader() < report.dataBytes) {
    report.badHeaderByte = m_walk.BadHeader();
    report.badHeaderFrame = m_walk.Frames();
  }
  if (m_firstBadFrameStart && *m_firstBadFrameStart < report.dataBytes) {
    report.decodeErrors = m_decodeErrors;
    report.firstBadFrame = m_firstBadFrame;
  }
  return report;
}

}  // namespace vorn
