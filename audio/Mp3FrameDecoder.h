#pragma once
// One MP3 decoder fed one whole frame of the disk's kind per packet. A damaged
// frame then fails its own packet instead of being skipped inside a larger
// one, and a stream read piece by piece off a disk decodes without a
// container or a temporary file: the disk check, the preview's waveform and
// its playback all walk a routine's MP3 region this way.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

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

}  // namespace vorn
