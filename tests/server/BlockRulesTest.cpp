#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/DeviceServer.h"
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
