#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/LiveLink.h"
#include "server/ListDevices.h"

namespace vorn {
namespace {

TEST(BlockTransferLengthTest, LengthWordAndPayloadRoundUpTo128) {
  EXPECT_EQ(BlockTransferLength(0), 128);
  EXPECT_EQ(BlockTransferLength(126), 128);
  EXPECT_EQ(BlockTransferLength(127), 256);
  EXPECT_EQ(BlockTransferLength(254), 256);
  EXPECT_EQ(BlockTransferLength(kMaxBlockPayload), 32768);
}

TEST(InspectBlockTest, OnlyBlocksWhoseTransferLiesInsideTheReadableBytesGoOut) {
  struct Case {
    std::uint16_t word;
    std::size_t readable;
    int payload, length;
    bool sendable;
  };
  std::vector<std::uint8_t> block(32768 + 2, 0);
  for (const Case& c : {Case{0, 128, 0, 128, true}, Case{126, 128, 126, 128, true},
                        Case{127, 255, 127, 256, false}, Case{127, 256, 127, 256, true},
                        Case{0xFFFF, 4096, -1, 128, false}, Case{32765, 32768, 32765, 32768, true},
                        Case{32766, 32770, 32766, 32768, false}, Case{0x8000, 32770, -32768, -32512, false},
                        Case{5, 1, 0, 0, false}, Case{5, 0, 0, 0, false}}) {
    SCOPED_TRACE("N word " + std::to_string(c.word) + ", " + std::to_string(c.readable) + " readable");
    block[0] = static_cast<std::uint8_t>(c.word);
    block[1] = static_cast<std::uint8_t>(c.word >> 8);
    const BlockShape shape = InspectBlock(block.data(), c.readable);
    EXPECT_EQ(shape.payload, c.payload);
    EXPECT_EQ(shape.length, c.length);
    EXPECT_EQ(shape.sendable, c.sendable);
  }
}

TEST(WriteNameListTest, NamesEachEndedThenClosingZero) {
  std::vector<std::uint8_t> block(1024, 0xEE);
  EXPECT_EQ(WriteNameList({"VORN3", "VORN5"}, block.data(), block.size()), 13u);
  const std::string expected("VORN3\0VORN5\0\0", 13);
  EXPECT_EQ(std::string(block.begin(), block.begin() + 13), expected);
  EXPECT_EQ(block[13], 0xEE);

  EXPECT_EQ(WriteNameList({}, block.data(), block.size()), 1u);
  EXPECT_EQ(block[0], 0);
}

TEST(WriteNameListTest, StopsAtTheFirstNameThatDoesNotFit) {
  std::vector<std::string> names;
  for (int devnum = 100; devnum < 230; ++devnum) names.push_back("VORN" + std::to_string(devnum));
  std::vector<std::uint8_t> block(1024, 0xEE);
  // 127 names of 8 bytes and the closing zero: 1017 bytes; a 128th would need 1025.
  EXPECT_EQ(WriteNameList(names, block.data(), 1024), 127u * 8 + 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&block[126 * 8])), "VORN226");
  EXPECT_EQ(block[127 * 8], 0);

  // A block smaller than the list area is never written past.
  std::vector<std::uint8_t> small(10, 0xEE);
  EXPECT_EQ(WriteNameList({"VORN3", "VORN5"}, small.data(), small.size()), 7u);
  EXPECT_EQ(WriteNameList({"VORN3"}, small.data(), 0), 0u);
}

}  // namespace
}  // namespace vorn
