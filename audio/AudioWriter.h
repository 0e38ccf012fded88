#pragma once
// A sink for 16-bit stereo sample frames.

#include <cstdint>
#include <string>

namespace vorn {

class CAudioWriter {
 public:
  virtual ~CAudioWriter() = default;
  virtual bool Open(const std::string& path) = 0;
  virtual bool Close() = 0;
  virtual bool WritePlanar(const std::int32_t* first, const std::int32_t* second, int count,
                           int reserved1, int reserved2) = 0;
};

}  // namespace vorn
