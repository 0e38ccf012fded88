#pragma once
// The rules a block of control data must pass before the server sends it: pure
// functions of the block's bytes, so they can be tested and fuzzed alone.

#include <cstddef>
#include <cstdint>

namespace vorn {

// Largest payload a block may announce: N + 2 must stay a positive 16-bit value.
inline constexpr int kMaxBlockPayload = 32765;
inline constexpr int kBlockGranule = 128;
inline constexpr int kBlockWriteTimeoutMs = 6000;

// Bytes one transfer carries for a block announcing `payload` bytes: the length
// word and the payload, rounded up to a multiple of 128.
int BlockTransferLength(int payload);

// What the server makes of the block in front of it, before anything reaches
// the unit: the announced payload N (the signed little-endian word at offset
// 0), the transfer length T, and whether the block may go out
// (0 <= N <= kMaxBlockPayload and T within the `readable` bytes). A block too
// short to hold its length word is refused with N = T = 0.
struct BlockShape {
  int payload = 0;
  int length = 0;
  bool sendable = false;
};
BlockShape InspectBlock(const std::uint8_t* block, std::size_t readable);

}  // namespace vorn
