#pragma once
// A source of decoded audio: 44,100 Hz, 16-bit, 2-channel sample frames
// (4 bytes each, first channel first). The base class's operations are the
// trivial defaults that decoders override.

#include <cstdint>
#include <string>

namespace vorn {

class CAudioSource {
 public:
  virtual ~CAudioSource() = default;
  virtual bool Open(const std::string& /*path*/) { return true; }
  // interleaved: `left` receives `count` frames as 32-bit words, `right` unused.
  // planar: left[i] / right[i] receive the two samples of frame i (either may be null).
  virtual int Read(std::int32_t* /*left*/, std::int32_t* /*right*/, int /*count*/,
                   bool /*interleaved*/) {
    return 0;
  }
  virtual int Skip(int count) { return count; }
  virtual void Close() {}
  virtual bool Seek(std::uint32_t /*frame*/) { return true; }
  virtual std::uint32_t GetLength() { return 0; }
};

}  // namespace vorn
