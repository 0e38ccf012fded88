#pragma once
// Finds where a routine's MP3 data ends inside its MP3 sectors. The import pads
// the last MP3 sector with the sector filler (a silent frame and the start of
// another), so the data ends where that filler begins. Fed the whole MP3 region
// piece by piece, the finder walks the frame headers and keeps only the last
// sector, so a region of any length needs a few hundred bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorn {

class CMp3EndFinder {
 public:
  // The next bytes of the MP3 region, in order.
  void Feed(const std::uint8_t* data, std::size_t size);
  // The length of the MP3 data: where the sector filler begins, else the
  // whole region (a region that is whole frames to its last byte, or one whose
  // end cannot be told).
  std::uint64_t End() const;

 private:
  bool TailMatchesFiller(std::uint64_t position, std::size_t minimum) const;

  std::uint64_t m_size = 0;       // bytes fed so far
  bool m_walking = true;          // every header met so far was of the accepted kind
  std::uint64_t m_nextFrame = 0;  // start of the frame whose header comes next
  std::array<std::uint8_t, 4> m_header{};
  std::size_t m_headerBytes = 0;
  std::array<std::uint64_t, 2> m_lastFrames{};  // the two most recent frame starts
  std::size_t m_frameCount = 0;
  std::vector<std::uint8_t> m_tail;  // the last bytes fed, at least 511 when there are
};

}  // namespace vorn
