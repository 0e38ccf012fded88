#pragma once
// The decoding audio source: FFmpeg (libavformat, libavcodec, libswresample)
// decodes the whole input in one blocking Open into a headerless temporary PCM
// file of 44,100 Hz, 16-bit, 2-channel frames, which Read, Seek and GetLength
// then serve. A failed decoding step shows one message box (caption
// kDecoderErrorCaption, text "<step>: <FFmpeg's error text>") and Open returns
// false.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/AudioSource.h"
#include "audio/PcmTempFile.h"

namespace vorn {

class CFfmpegAudioSource final : public CAudioSource {
 public:
  CFfmpegAudioSource() = default;
  CFfmpegAudioSource(const CFfmpegAudioSource&) = delete;
  CFfmpegAudioSource& operator=(const CFfmpegAudioSource&) = delete;
  ~CFfmpegAudioSource() override;

  // Decodes the file at path to the PCM file; true when decoding ran to the end.
  // On false the failure has been shown; Close (or destruction) removes the file.
  bool Open(const std::string& path) override;
  // Frames delivered, 0 at the end. Interleaved: left receives whole frames as
  // 32-bit words. Planar: left[i] / right[i] (either may be null) receive the
  // sign-extended samples of frame i.
  int Read(std::int32_t* left, std::int32_t* right, int count, bool interleaved) override;
  // Releases the PCM file and deletes it; safe to call again.
  void Close() override;
  // Moves the read position to the given frame; a frame past the end is allowed.
  bool Seek(std::uint32_t frame) override;
  // Frames in the PCM file; leaves the read position alone.
  std::uint32_t GetLength() override;

  // Called on the decoding thread, while Open runs, with the number of frames
  // decoded so far, each time another block of them is in the PCM file.
  void SetDecodeObserver(std::function<void(std::uint64_t frames)> observer);
  // Reads up to count interleaved frames from frame `first` on without moving the
  // read position; other threads may call it while Open is still decoding, for
  // the frames already reported to the decode observer. Returns frames read.
  std::size_t ReadFramesAt(std::uint64_t first, std::int16_t* frames, std::size_t count) const;

  // The PCM file's path while it exists (empty otherwise).
  const std::string& GetPcmPath() const { return m_pcmFile.GetPath(); }

 private:
  CPcmTempFile m_pcmFile;
  std::unique_ptr<std::uint8_t[]> m_scratch;  // planar reads land here first
  int m_scratchFrames = 0;
};

}  // namespace vorn
