#include "device/DriveDiscovery.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "device/DeviceDiscovery.h"
#include "device/LinuxDriveSource.h"
#include "tests/device/DriveFixture.h"
#include "tests/device/FakeDriveSource.h"

namespace vorn {
namespace {

using test::Bus;
using test::CDriveFixture;
using test::CFakeDriveSource;

std::vector<std::string> Texts(const std::vector<DeviceEntry>& entries) {
  std::vector<std::string> texts;
  for (const DeviceEntry& entry : entries) texts.push_back(entry.text);
  return texts;
}

TEST(DriveDiscoveryTest, OffersRemovableDrivesWithTheirComboTexts) {
  CFakeDriveSource source;
  source.AddDrive(2, 2097152);  // 1 GiB
  source.AddVolume('E', 2, 1, true);
  source.AddVolume('F', 2, 2, true);
  source.AddDrive(3, 15523840);  // no volumes
  std::vector<DeviceEntry> drives{DeviceEntry{7, "stale", ""}};
  EnumerateDrives(drives, source);
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[0].text, "PhysicalDrive3 (7580.00MB) ()");
  EXPECT_EQ(drives[1].text, "PhysicalDrive2 (1024.00MB) (E:, F:)");
  ASSERT_NE(drives[1].DriveNumber(), nullptr);
  EXPECT_EQ(*drives[1].DriveNumber(), 2);
  EXPECT_TRUE(drives[1].name.empty());
}

TEST(DriveDiscoveryTest, ListsInTheTableWalkOrder) {
  CFakeDriveSource source;
  for (int n : {0, 1, 15, 16, 17, 25}) source.AddDrive(n, 2048);
  std::vector<DeviceEntry> drives;
  EnumerateDrives(drives, source);
  std::vector<int> numbers;
  for (const DeviceEntry& entry : drives) numbers.push_back(*entry.DriveNumber());
  EXPECT_EQ(numbers, (std::vector<int>{15, 1, 0, 25, 17, 16}));
}

TEST(DriveDiscoveryTest, NeverOffersSystemFixedMixedOrSizelessDrives) {
  CFakeDriveSource source;
  source.AddDrive(1);
  source.AddVolume('C', 1, 1, true);  // holds C:
  source.AddDrive(2);
  source.AddVolume('D', 2, 1, true);
  source.AddVolume('E', 2, 2, false);  // one fixed volume
  source.AddDrive(3, 0, 0);            // geometry unreadable
  source.AddDrive(4).removable = false;  // an internal disk without volumes
  source.AddDrive(5).holdsSystem = true;  // /boot or swap on it
  source.AddDrive(6);
  source.AddVolume('F', 6, 1, true);
  std::vector<DeviceEntry> drives;
  EnumerateDrives(drives, source);
  EXPECT_EQ(Texts(drives), std::vector<std::string>{"PhysicalDrive6 (1.00MB) (F:)"});
}

TEST(DriveDiscoveryTest, SizeUsesTheRecordedSectorsAndBytesPerSector) {
  PhysicalDriveInfo drive;
  drive.path = "\\\\.\\PhysicalDrive12";
  drive.geometry = {4096, 0};
  drive.sectorCount = 1000;  // 4,096,000 bytes
  EXPECT_EQ(DriveEntryText(drive), "PhysicalDrive12 (3.91MB) ()");
  drive.geometry = {512, 0};
  drive.sectorCount = 31116288;  // a 16 GB card
  drive.volumes.resize(1);
  drive.volumes[0].path = "\\\\.\\G:";
  EXPECT_EQ(DriveEntryText(drive), "PhysicalDrive12 (15193.50MB) (G:)");
  drive.description = "Generic SD/MMC";
  EXPECT_EQ(DriveEntryText(drive), "PhysicalDrive12 (15193.50MB) (G:) - Generic SD/MMC, 15.9 GB");
  drive.sectorCount = 1000;
  EXPECT_EQ(DriveEntryText(drive), "PhysicalDrive12 (0.49MB) (G:) - Generic SD/MMC, 1 MB");
}

TEST(DriveDiscoveryTest, DriveNames) {
  EXPECT_EQ(ParseDriveName("PhysicalDrive2"), 2);
  EXPECT_EQ(ParseDriveName("physicaldrive25"), 25);
  EXPECT_EQ(ParseDriveName("PhysicalDrive"), std::nullopt);
  EXPECT_EQ(ParseDriveName("PhysicalDrive2x"), std::nullopt);
  EXPECT_EQ(ParseDriveName("PhysicalDrive-1"), std::nullopt);
  EXPECT_EQ(ParseDriveName("card.img"), std::nullopt);
  EXPECT_EQ(StripDevicePath("\\\\.\\E:, "), "E:, ");
}

TEST(DriveDiscoveryTest, FixtureMachineOffersOnlyTheCard) {
  CDriveFixture fixture;
  fixture.AddDisk("sda", 409600, Bus::kAta);
  fixture.AddPartition("sda", 1, 409600);
  fixture.Mount("sda1", "/");
  fixture.AddDisk("sdb", 2097152, Bus::kUsb);
  fixture.AddPartition("sdb", 1, 1048576);
  fixture.AddPartition("sdb", 2, 1048000);
  fixture.AddDisk("sdc", 2097152, Bus::kUsb);  // a USB stick holding /boot
  fixture.AddPartition("sdc", 1, 1048576);
  fixture.Mount("sdc1", "/boot");
  fixture.AddDisk("mmcblk0", 65536, Bus::kMmc);  // blank SD card
  CLinuxDriveSource source(fixture.Roots());
  std::vector<DeviceEntry> drives;
  EnumerateDrives(drives, source);
  EXPECT_EQ(Texts(drives), (std::vector<std::string>{"PhysicalDrive3 (32.00MB) ()",
                                                     "PhysicalDrive1 (1024.00MB) (D:, E:)"}));
  // What sysfs says the reader and the card are, padding and all.
  fixture.SetAttribute("sdb", "device/vendor", "Generic ");
  fixture.SetAttribute("sdb", "device/model", "STORAGE DEVICE  ");
  fixture.SetAttribute("mmcblk0", "device/name", "SD32G\x1b");
  EnumerateDrives(drives, source);
  EXPECT_EQ(Texts(drives), (std::vector<std::string>{"PhysicalDrive3 (32.00MB) () - SD32G, 34 MB",
                                                     "PhysicalDrive1 (1024.00MB) (D:, E:) - Generic STORAGE DEVICE, 1.1 GB"}));
}

// The shell fixture that end-to-end tests use, reached through the VORN_*
// variables of the process default.
TEST(DriveDiscoveryTest, ShellFixtureIsSeenThroughTheEnvironmentHooks) {
  CDriveFixture scratch;
  const std::string script = std::string(VORN_SOURCE_DIR) + "/scripts/make-drive-fixture.sh";
  const std::string tree = scratch.Dir() + "/tree";
  const std::string command = script + " " + tree + " 64 > " + scratch.Dir() + "/vars";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ::setenv("VORN_SYSFS_ROOT", (tree + "/sys").c_str(), 1);
  ::setenv("VORN_DEV_ROOT", (tree + "/dev").c_str(), 1);
  ::setenv("VORN_MOUNTINFO", (tree + "/mountinfo").c_str(), 1);
  ::setenv("VORN_SWAPS", (tree + "/swaps").c_str(), 1);
  std::vector<DeviceEntry> drives;
  EnumerateDrives(drives);
  for (const char* name : {"VORN_SYSFS_ROOT", "VORN_DEV_ROOT", "VORN_MOUNTINFO", "VORN_SWAPS"}) {
    ::unsetenv(name);
  }
  EXPECT_EQ(Texts(drives), std::vector<std::string>{"PhysicalDrive1 (64.00MB) ()"});
}

// This machine: whatever it offers, never the drive that holds "/".
TEST(DriveDiscoveryTest, ThisMachineNeverOffersTheSystemDisk) {
  std::vector<DeviceEntry> drives;
  EnumerateDrives(drives);
  CDriveTable table;
  CLinuxDriveSource source(DriveRoots::FromEnvironment());
  table.Refresh(source);
  for (const DeviceEntry& entry : drives) {
    const PhysicalDriveInfo* drive = table.FindDrive(*entry.DriveNumber());
    ASSERT_NE(drive, nullptr);
    EXPECT_FALSE(drive->holdsSystem) << entry.text;
    EXPECT_FALSE(table.HoldsLetter(drive->number, 'C')) << entry.text;
  }
}

}  // namespace
}  // namespace vorn
