#pragma once
// One libmp3lame encoder set up for the disk's MP3 kind: MPEG-1 Layer III,
// 44,100 Hz, 128 kbit/s constant, joint stereo, -h quality, original bit set,
// no CRC, no bit reservoir, no Info tag, no ID3 — byte for byte what
// `lame -h -b 128 --cbr --nores -t` writes. Both the MP3 writer and the
// segment encoder's workers use it, so the settings live in one place.

#include <cstdint>
#include <memory>

struct lame_global_struct;  // libmp3lame's encoder state (lame/lame.h)

namespace vorn {

class CLameEncoder {
 public:
  enum class StartResult {
    kReady,
    kUnavailable,  // the library could not make an encoder at all
    kRefused,      // it would not take the disk's settings
  };

  CLameEncoder() = default;
  CLameEncoder(const CLameEncoder&) = delete;
  CLameEncoder& operator=(const CLameEncoder&) = delete;
  ~CLameEncoder();

  // Makes a fresh encoder (dropping any earlier one).
  StartResult Start();
  bool IsStarted() const { return m_flags != nullptr; }
  // Encodes `frames` interleaved stereo frames; returns the MP3 bytes written
  // to out (at most OutputBound(frames)), negative on an encoder error.
  int Encode(const std::int16_t* interleaved, int frames, std::uint8_t* out, int outSize);
  // Encodes what the encoder still holds and its padding; bytes or negative.
  int Flush(std::uint8_t* out, int outSize);
  void Stop();

  // lame's own bound for one call's output.
  static constexpr int OutputBound(int frames) { return 5 * frames / 4 + 7200; }

 private:
  lame_global_struct* m_flags = nullptr;
};

// The error raised when no encoder can be made ready (caption "Unable to encode MP3").
[[noreturn]] void ThrowEncoderUnavailable();

}  // namespace vorn
