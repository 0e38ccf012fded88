#pragma once
// One MP3 decoder fed one whole frame of the disk's kind per packet. A damaged
// frame then fails its own packet instead of being skipped inside a larger
// one, and a stream read piece by piece off a disk decodes without a
// container or a temporary file: the disk check, the preview's waveform and
// its playback all walk a routine's MP3 region this way.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "audio/Mp3Frames.h"

namespace vorn {

class CMp3FrameDecoder {
 public:
  // `strict`: damage the decoder would conceal counts as an error (the check
  // looks for it); otherwise it is concealed, as a player conceals it.
  // Throws the decoder's error when FFmpeg has no MP3 decoder.
  explicit CMp3FrameDecoder(bool strict);
  ~CMp3FrameDecoder();
  CMp3FrameDecoder(const CMp3FrameDecoder&) = delete;
  CMp3FrameDecoder& operator=(const CMp3FrameDecoder&) = delete;

  // Decodes one frame (at most 418 bytes). True when it decodes without an
  // error. `samples`, when given, is replaced by the frame's audio as
  // interleaved 16-bit stereo (the disk's kind is always stereo 44,100 Hz; a
  // mono frame is put on both channels).
  bool Decode(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>* samples = nullptr);
  // Forgets the frames before (a seek): the next frame starts afresh.
  void Flush();

 private:
  struct Codec;
  std::unique_ptr<Codec> m_codec;
};

// Cuts an MP3 region, fed in whatever pieces it is read, into whole frames of
// the disk's kind, and stops at the first header that is not one: the check
// and the preview walk a region the same way.
class CMp3FrameWalk {
 public:
  CMp3FrameWalk() { m_frame.reserve(kUnpaddedFrameSize + 1); }

  // Hands each whole frame to `onFrame(bytes, size, start)` in order; start
  // is its byte offset in the region, and Frames() counts the frames before it.
  template <class OnFrame>
  void Feed(const std::uint8_t* data, std::size_t size, OnFrame&& onFrame) {
    std::size_t at = 0;
    while (m_walking && at < size) {
      if (m_frame.empty()) m_frameStart = m_position + at;
      const std::size_t want = m_frameSize == 0 ? kHeaderSize : m_frameSize;
      const std::size_t take = std::min(want - m_frame.size(), size - at);
      m_frame.insert(m_frame.end(), data + at, data + at + take);
      at += take;
      if (m_frame.size() < want) break;
      if (m_frameSize == 0) {
        if (!IsAcceptedFrameHeader(m_frame.data())) {
          m_walking = false;
          m_badHeader = m_frameStart;
          break;
        }
        m_frameSize = kUnpaddedFrameSize + ((m_frame[2] >> 1) & 1u);
        continue;
      }
      onFrame(m_frame.data(), m_frame.size(), m_frameStart);
      ++m_frames;
      m_frame.clear();
      m_frameSize = 0;
    }
    m_position += size;
  }

  // False once a header was not one: the rest of the region is not audio.
  bool Walking() const { return m_walking; }
  // Where that header starts.
  const std::optional<std::uint64_t>& BadHeader() const { return m_badHeader; }
  std::uint64_t Frames() const { return m_frames; }

 private:
  static constexpr std::size_t kHeaderSize = 4;
  static constexpr std::size_t kUnpaddedFrameSize = 417;

  std::vector<std::uint8_t> m_frame;
  std::size_t m_frameSize = 0;  // 0 until its header is complete
  std::uint64_t m_position = 0;    // bytes fed so far
  std::uint64_t m_frameStart = 0;  // where the frame being assembled starts
  std::uint64_t m_frames = 0;
  bool m_walking = true;
  std::optional<std::uint64_t> m_badHeader;
};

}  // namespace vorn
