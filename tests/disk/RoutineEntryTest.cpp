#include "disk/RoutineEntry.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "disk/DiskHeader.h"

namespace vorn {
namespace {

TEST(RoutineEntryTest, EncodesEveryFieldAtItsOffsetLittleEndian) {
  RoutineEntry entry;
  std::memcpy(entry.title.data(), "Thunder", 7);
  entry.startSector = 0x01020304;
  entry.dataSector = 0x11121314;
  entry.endSector = 0xA1A2A3A4;
  entry.frameRate = 40;
  entry.baudCode = 5;
  for (std::size_t i = 0; i < 32; ++i) entry.controllerSettings[i] = static_cast<std::uint8_t>(0xC0 + i);

  std::array<std::uint8_t, 64> bytes;
  bytes.fill(0xEE);
  entry.Encode(bytes.data());
  EXPECT_EQ(std::memcmp(bytes.data(), "Thunder\0\0\0\0\0\0\0\0\0", 16), 0);
  EXPECT_EQ((std::array<std::uint8_t, 4>{bytes[16], bytes[17], bytes[18], bytes[19]}),
            (std::array<std::uint8_t, 4>{0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(bytes[20], 0x14);
  EXPECT_EQ(bytes[27], 0xA1);
  EXPECT_EQ(bytes[28], 40);
  EXPECT_EQ(bytes[29], 5);
  EXPECT_EQ(bytes[30], 0xC0);
  EXPECT_EQ(bytes[61], 0xDF);
  EXPECT_EQ(bytes[62], 0xEE);  // exactly 62 bytes written

  EXPECT_EQ(RoutineEntry::Decode(bytes.data()), entry);
}

TEST(RoutineEntryTest, TitleEndsAtTheFirstNulOrAfterSixteenCharacters) {
  RoutineEntry entry;
  std::memcpy(entry.title.data(), "ABCDEFGHIJKLMNOP", 16);
  EXPECT_EQ(entry.Title(), "ABCDEFGHIJKLMNOP");
  entry.title[3] = '\0';
  EXPECT_EQ(entry.Title(), "ABC");
}

TEST(RoutineEntryTest, SizeAndProtocolComeFromTheFields) {
  RoutineEntry entry;
  entry.startSector = 10;
  entry.endSector = 2058;
  entry.controllerSettings[0] = 7;
  EXPECT_EQ(entry.SizeBytes(), 2048u * 512);
  EXPECT_TRUE(entry.Protocol().IsDMX());
}

TEST(DiskHeaderTest, EncodesMagicCountTableSectorAndZeroRest) {
  DiskHeader header;
  header.routineCount = -2;
  header.tableSector = 0x1234;
  std::array<std::uint8_t, 512> sector;
  sector.fill(0xEE);
  header.Encode(sector.data());
  EXPECT_EQ((std::array<std::uint8_t, 4>{sector[0], sector[1], sector[2], sector[3]}),
            (std::array<std::uint8_t, 4>{0x00, 0xAA, 0x00, 0xAA}));
  EXPECT_EQ(sector[4], 0xFE);
  EXPECT_EQ(sector[7], 0xFF);
  EXPECT_EQ(sector[8], 0x34);
  EXPECT_EQ(sector[12], 2);
  for (std::size_t i = 16; i < 512; ++i) ASSERT_EQ(sector[i], 0) << i;

  DiskHeader back = DiskHeader::Decode(sector.data());
  EXPECT_EQ(back.magic, kDiskMagic);
  EXPECT_EQ(back.routineCount, -2);
  EXPECT_EQ(back.tableSector, 0x1234u);
}

}  // namespace
}  // namespace vorn
