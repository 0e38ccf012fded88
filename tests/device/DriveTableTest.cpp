#include "device/DriveTable.h"

#include <gtest/gtest.h>

#include "tests/device/FakeDriveSource.h"

namespace vorn {
namespace {

using test::CFakeDriveSource;

TEST(DriveTableTest, WalksDrives15To0Then25To16) {
  CFakeDriveSource source;
  for (int n = 0; n <= 25; ++n) source.AddDrive(n);
  CDriveTable table;
  table.Refresh(source);
  std::vector<int> order;
  for (const PhysicalDriveInfo* drive : table.Drives()) order.push_back(drive->number);
  std::vector<int> expected;
  for (int n = 15; n >= 0; --n) expected.push_back(n);
  for (int n = 25; n >= 16; --n) expected.push_back(n);
  EXPECT_EQ(order, expected);
}

TEST(DriveTableTest, RecordsCarryPathSizeAndVolumesInLetterOrder) {
  CFakeDriveSource source;
  source.AddDrive(2, 2048, 512);
  source.AddVolume('E', 2, 1, true);
  source.AddVolume('F', 2, 2, true);
  CDriveTable table;
  table.Refresh(source);
  const PhysicalDriveInfo* drive = table.FindDrive(2);
  ASSERT_NE(drive, nullptr);
  EXPECT_EQ(drive->path, "\\\\.\\PhysicalDrive2");
  EXPECT_TRUE(drive->geometryValid);
  EXPECT_EQ(drive->sectorCount, 2048u);
  ASSERT_EQ(drive->volumes.size(), 2u);
  EXPECT_EQ(drive->volumes[0].path, "\\\\.\\E:");
  EXPECT_EQ(drive->volumes[1].path, "\\\\.\\F:");
  EXPECT_TRUE(table.HoldsLetter(2, 'e'));
  EXPECT_TRUE(table.HoldsLetter(2, 'F'));
  EXPECT_FALSE(table.HoldsLetter(2, 'C'));
  EXPECT_FALSE(table.HoldsLetter(3, 'E'));
  EXPECT_EQ(table.FindDrive(3), nullptr);
}

TEST(DriveTableTest, VolumeOnADriveOutsideTheTableIsDiscarded) {
  CFakeDriveSource source;
  source.AddDrive(1);
  source.AddVolume('E', 1, 1, true);
  source.AddVolume('G', 26, 1, true);  // beyond the 26 drive numbers
  source.AddVolume('H', 4, 1, true);   // drive 4 could not be opened
  CDriveTable table;
  table.Refresh(source);
  EXPECT_EQ(table.FindDrive(1)->volumes.size(), 1u);
  EXPECT_EQ(table.FindDrive(26), nullptr);
  EXPECT_FALSE(table.HoldsLetter(26, 'G'));
  EXPECT_FALSE(table.HoldsLetter(4, 'H'));
}

TEST(DriveTableTest, RemovableOnlyNeedsEveryVolumeRemovable) {
  CFakeDriveSource source;
  source.AddDrive(1);
  source.AddVolume('E', 1, 1, true);
  source.AddVolume('F', 1, 2, false);
  source.AddDrive(2);
  source.AddVolume('G', 2, 1, true);
  source.AddDrive(3);  // no volumes
  CDriveTable table;
  table.Refresh(source);
  EXPECT_FALSE(table.IsRemovableOnly(1));
  EXPECT_TRUE(table.IsRemovableOnly(2));
  EXPECT_TRUE(table.IsRemovableOnly(3));
  EXPECT_FALSE(table.IsRemovableOnly(4));
}

TEST(DriveTableTest, RefreshStartsOverAndInvalidGeometryHasNoSize) {
  CFakeDriveSource source;
  source.AddDrive(1);
  source.AddVolume('E', 1, 1, true);
  CDriveTable table;
  table.Refresh(source);
  CFakeDriveSource later;
  later.AddDrive(5, 0, 0);  // geometry unreadable
  table.Refresh(later);
  EXPECT_EQ(table.FindDrive(1), nullptr);
  EXPECT_FALSE(table.HoldsLetter(1, 'E'));
  ASSERT_NE(table.FindDrive(5), nullptr);
  EXPECT_FALSE(table.FindDrive(5)->geometryValid);
  EXPECT_EQ(table.FindDrive(5)->sectorCount, 0u);
}

}  // namespace
}  // namespace vorn
