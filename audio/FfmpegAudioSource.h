#pragma once
// The decoding audio source: FFmpeg (libavformat, libavcodec, libswresample)
// decodes the whole input in one blocking Open into a headerless temporary PCM
// file of 44,100 Hz, 16-bit, 2-channel frames, which Read, Seek and GetLength
// then serve. A failed decoding step throws CFileAccessException (caption
// kDecoderErrorCaption, text "<step>: <FFmpeg's error text>").

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/AudioSource.h"
#include "audio/PcmDecoder.h"
#include "audio/PcmTempFile.h"
#include "platform/Cancel.h"

namespace vorn {

class CFfmpegAudioSource final : public CAudioSource {
 public:
  CFfmpegAudioSource() = default;
  CFfmpegAudioSource(const CFfmpegAudioSource&) = delete;
  CFfmpegAudioSource& operator=(const CFfmpegAudioSource&) = delete;
  ~CFfmpegAudioSource() override;

  // Decodes the file at path to the PCM file; true when decoding ran to the end.
  // Throws the decoder's error on failure (the PCM file is then gone), and
  // CCancelled when the cancel flag given to SetCancelFlag is set first.
  bool Open(const std::string& path) override;
  // The flag a later Cancel sets to stop a decoding in Open (null: none).
  void SetCancelFlag(const CCancelFlag* cancel) { m_limits.cancel = cancel; }
  // Told the input's stated length before Open decodes anything (see DecodeLimits).
  void SetLengthObserver(std::function<void(std::uint64_t frames)> observer) {
    m_limits.lengthKnown = std::move(observer);
  }
  // How long one Open may decode before it is taken for a never-ending input.
  void SetTimeLimit(std::chrono::steady_clock::duration limit) { m_limits.timeLimit = limit; }
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
  // the frames already reported to the decode observer, and until the source is
  // destroyed. Returns frames read.
  std::size_t ReadFramesAt(std::uint64_t first, std::int16_t* frames, std::size_t count) const;

  // The PCM file's path while it exists (empty otherwise).
  const std::string& GetPcmPath() const { return m_pcmFile.GetPath(); }

 private:
  CPcmTempFile m_pcmFile;
  CUniqueFd m_reader;  // the decode observer's readers' own descriptor on the PCM file
  DecodeLimits m_limits;
  std::unique_ptr<std::uint8_t[]> m_scratch;  // planar reads land here first
  int m_scratchFrames = 0;
};

}  // namespace vorn
