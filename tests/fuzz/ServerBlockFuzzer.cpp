// Fuzzes the rules the server applies to the editor's block before a single
// byte goes to the unit: whatever the block holds and however long it is, a
// block passed as sendable announces a payload in range, and its transfer is a
// whole number of 128-byte granules that lies inside the readable bytes. The
// harness reads every byte of that transfer, so an over-read shows up under
// AddressSanitizer as it would in the server.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "server/BlockRules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A heap copy of exactly `size` bytes: the end of the block is the end of
  // the allocation, as the end of a mapping is for the server.
  std::vector<std::uint8_t> block(data, data + size);
  const vorn::BlockShape shape = vorn::InspectBlock(block.data(), block.size());
  if (!shape.sendable) return 0;

  if (shape.payload < 0 || shape.payload > vorn::kMaxBlockPayload) std::abort();
  if (shape.length % vorn::kBlockGranule != 0 || shape.length < shape.payload + 2) std::abort();
  if (static_cast<std::size_t>(shape.length) > size) std::abort();
  volatile unsigned sum = 0;  // keeps the reads
  for (int i = 0; i < shape.length; ++i) sum = sum + block[static_cast<std::size_t>(i)];
  return 0;
}
