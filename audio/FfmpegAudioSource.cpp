#include "audio/FfmpegAudioSource.h"

#include <limits>

#include "audio/FfmpegError.h"
#include "audio/PcmDecoder.h"

namespace vorn {
namespace {

std::int32_t SampleAt(const std::uint8_t* bytes) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)));
}

}  // namespace

CFfmpegAudioSource::~CFfmpegAudioSource() { Close(); }

bool CFfmpegAudioSource::Open(const std::string& path) {
  Close();
  std::string error;
  if (!m_pcmFile.Create(error)) {
    ThrowDecoderError("Unable to create a temporary file for the decoded audio: " + error);
  }
  try {
    DecodeToPcm(path, m_pcmFile, m_limits);
  } catch (...) {
    Close();  // nothing of a failed or cancelled decoding is kept
    throw;
  }
  return m_pcmFile.SeekTo(0);
}

int CFfmpegAudioSource::Read(std::int32_t* left, std::int32_t* right, int count,
                             bool interleaved) {
  if (count <= 0 || !m_pcmFile.IsOpen()) return 0;
  const std::size_t bytes = static_cast<std::size_t>(count) * kPcmFrameBytes;
  if (interleaved) {
    if (left == nullptr) return 0;
    return static_cast<int>(m_pcmFile.ReadUpTo(left, bytes) / kPcmFrameBytes);
  }
  if (count != m_scratchFrames) {
    m_scratch.reset();
    m_scratch = std::make_unique<std::uint8_t[]>(bytes);
    m_scratchFrames = count;
  }
  const int frames = static_cast<int>(m_pcmFile.ReadUpTo(m_scratch.get(), bytes) / kPcmFrameBytes);
  for (int i = 0; i < frames; ++i) {
    const std::uint8_t* frame = m_scratch.get() + static_cast<std::size_t>(i) * kPcmFrameBytes;
    if (left != nullptr) left[i] = SampleAt(frame);
    if (right != nullptr) right[i] = SampleAt(frame + 2);
  }
  return frames;
}

void CFfmpegAudioSource::Close() { m_pcmFile.Remove(); }

void CFfmpegAudioSource::SetDecodeObserver(std::function<void(std::uint64_t frames)> observer) {
  if (!observer) {
    m_pcmFile.SetGrowthObserver({});
    return;
  }
  m_reader.Reset();  // a new decoding follows: its file is another
  // The readers get a descriptor of their own before they hear of the first
  // frames: a cancelled decoding closes the source's one at once.
  m_pcmFile.SetGrowthObserver([this, observer = std::move(observer)](std::uint64_t bytes) {
    if (!m_reader.IsValid()) m_reader = m_pcmFile.Duplicate();
    observer(bytes / kPcmFrameBytes);
  });
}

std::size_t CFfmpegAudioSource::ReadFramesAt(std::uint64_t first, std::int16_t* frames,
                                            std::size_t count) const {
  if (!m_reader.IsValid()) return 0;
  return CPcmTempFile::ReadAt(m_reader.Get(), first * kPcmFrameBytes, frames,
                              count * kPcmFrameBytes) /
         kPcmFrameBytes;
}

bool CFfmpegAudioSource::Seek(std::uint32_t frame) {
  // 64-bit offset: a 32-bit one would wrap for positions past about 3.4 hours.
  return m_pcmFile.SeekTo(static_cast<std::uint64_t>(frame) * kPcmFrameBytes);
}

std::uint32_t CFfmpegAudioSource::GetLength() {
  const std::uint64_t frames = m_pcmFile.GetSize() / kPcmFrameBytes;
  // More frames than 32 bits can count (27 hours): report the most it can say.
  if (frames > std::numeric_limits<std::uint32_t>::max()) {
    return std::numeric_limits<std::uint32_t>::max();
  }
  return static_cast<std::uint32_t>(frames);
}

}  // namespace vorn
