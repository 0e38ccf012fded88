#include "server/BlockRules.h"

#include "platform/LittleEndian.h"

namespace vorn {

int BlockTransferLength(int payload) {
  const int length = payload + 2;
  return (length + kBlockGranule - 1) / kBlockGranule * kBlockGranule;
}

BlockShape InspectBlock(const std::uint8_t* block, std::size_t readable) {
  BlockShape shape;
  if (readable < 2) return shape;
  shape.payload = static_cast<std::int16_t>(GetLe16(block));
  shape.length = BlockTransferLength(shape.payload);
  shape.sendable = shape.payload >= 0 && shape.payload <= kMaxBlockPayload &&
                   static_cast<std::size_t>(shape.length) <= readable;
  return shape;
}

}  // namespace vorn
