// The pure parts of the unit protocol: checksum, status test, identify block.

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "device/IdentifyBlock.h"
#include "device/UsbProtocol.h"
#include "platform/LittleEndian.h"

namespace vorn {
namespace {

TEST(XorChecksumTest, KnownValues) {
  EXPECT_EQ(XorChecksum("abc", 3), 0x60);
  EXPECT_EQ(XorChecksum(nullptr, 0), 0x00);
  const std::array<std::uint8_t, 4> cancelling = {0x5A, 0x5A, 0xFF, 0xFF};
  EXPECT_EQ(XorChecksum(cancelling.data(), cancelling.size()), 0x00);
}

TEST(XorChecksumTest, EveryLengthAndAlignmentMatchesTheByteByByteSum) {
  std::array<std::uint8_t, 80> data{};
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 73 + 11);
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t size = 0; size + offset <= data.size(); ++size) {
      std::uint8_t expected = 0;
      for (std::size_t i = 0; i < size; ++i) expected ^= data[offset + i];
      ASSERT_EQ(XorChecksum(data.data() + offset, size), expected) << offset << "+" << size;
    }
  }
}

TEST(StatusPacketTest, ConfirmsOnlyFfFfAndTheChecksum) {
  std::array<std::uint8_t, kStatusPacketSize> packet{};
  packet.fill(0xC3);  // any tail
  packet[0] = 0xFF;
  packet[1] = 0xFF;
  packet[2] = 0x42;
  EXPECT_TRUE(StatusConfirms(packet.data(), 0x42));
  EXPECT_FALSE(StatusConfirms(packet.data(), 0x43));
  packet[0] = 0xFE;
  EXPECT_FALSE(StatusConfirms(packet.data(), 0x42));
  packet[0] = 0xFF;
  packet[1] = 0x00;
  EXPECT_FALSE(StatusConfirms(packet.data(), 0x42));
}

// Places text in an ATA field the way a drive does: pairs swapped, space padded.
void PutSwapped(std::uint8_t* field, std::size_t length, const char* text) {
  for (std::size_t i = 0; i < length; ++i) {
    field[i ^ 1] = static_cast<std::uint8_t>(i < std::strlen(text) ? text[i] : ' ');
  }
}

TEST(IdentifyBlockTest, ModelSerialAndSectorCount) {
  std::array<std::uint8_t, kIdentifyBlockSize> block{};
  PutSwapped(block.data() + 54, 40, "ABCD");
  PutSwapped(block.data() + 20, 20, "123");
  PutLe32(block.data() + 120, 0x01234567);
  const UnitIdentity identity = ParseIdentifyBlock(block.data());
  EXPECT_EQ(identity.model, "ABCD");
  EXPECT_EQ(identity.serial, "123");
  EXPECT_EQ(identity.sectorCount, 0x01234567u);
  // Byte order on the wire: 'B' comes first.
  EXPECT_EQ(block[54], 'B');
  EXPECT_EQ(block[55], 'A');
}

TEST(IdentifyBlockTest, FieldsStopAtZeroAndLoseOuterSpaces) {
  std::array<std::uint8_t, 40> field{};
  PutSwapped(field.data(), 40, "  MODEL X  ");
  EXPECT_EQ(AtaFieldText(field.data(), 40), "MODEL X");

  std::array<std::uint8_t, 8> early{};
  PutSwapped(early.data(), 8, "ABCDEFGH");
  early[3 ^ 1] = 0;  // the fourth character
  EXPECT_EQ(AtaFieldText(early.data(), 8), "ABC");

  std::array<std::uint8_t, 20> full{};
  PutSwapped(full.data(), 20, "12345678901234567890");
  EXPECT_EQ(AtaFieldText(full.data(), 20), "12345678901234567890");

  std::array<std::uint8_t, 20> blank{};
  PutSwapped(blank.data(), 20, "");
  EXPECT_EQ(AtaFieldText(blank.data(), 20), "");
}

}  // namespace
}  // namespace vorn
