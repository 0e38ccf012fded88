#include "device/LinuxDriveSource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device/DriveTable.h"
#include "device/MountTable.h"
#include "device/VolumeProbe.h"
#include "tests/device/DriveFixture.h"

namespace vorn {
namespace {

using test::Bus;
using test::CDriveFixture;

class LinuxDriveSourceTest : public ::testing::Test {
 protected:
  // The usual machine: a SATA system disk sda with / and /home.
  void AddSystemDisk() {
    fixture.AddDisk("sda", 409600, Bus::kAta);
    fixture.AddPartition("sda", 1, 204800);
    fixture.AddPartition("sda", 2, 204800);
    fixture.Mount("sda1", "/");
    fixture.Mount("sda2", "/home");
  }
  void Refresh() {
    CLinuxDriveSource source(fixture.Roots());
    table.Refresh(source);
  }
  std::vector<std::string> Letters(int number) {
    std::vector<std::string> letters;
    for (const VolumeInfo& volume : table.FindDrive(number)->volumes) letters.push_back(volume.path);
    return letters;
  }

  CDriveFixture fixture;
  CDriveTable table;
};

TEST_F(LinuxDriveSourceTest, CardWithTwoPartitionsGetsEAndFAfterTheSystemDisk) {
  AddSystemDisk();
  fixture.AddDisk("sdb", 2097152, Bus::kUsb);
  fixture.AddPartition("sdb", 1, 1048576);
  fixture.AddPartition("sdb", 2, 1048000);
  fixture.WriteFat16("sdb1", "SHOW", 0x1A2B3C4D);
  Refresh();

  ASSERT_NE(table.FindDrive(0), nullptr);
  EXPECT_EQ(Letters(0), (std::vector<std::string>{"\\\\.\\C:", "\\\\.\\D:"}));
  EXPECT_TRUE(table.HoldsLetter(0, 'C'));
  EXPECT_TRUE(table.FindDrive(0)->holdsSystem);
  EXPECT_FALSE(table.FindDrive(0)->removable);

  const PhysicalDriveInfo* card = table.FindDrive(1);
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(card->node, fixture.Node("sdb"));
  EXPECT_TRUE(card->removable);
  EXPECT_FALSE(card->inUse);
  EXPECT_FALSE(card->holdsSystem);
  EXPECT_TRUE(card->geometryValid);
  EXPECT_EQ(card->geometry.bytesPerSector, 512u);
  EXPECT_EQ(card->sectorCount, 2097152u);
  ASSERT_EQ(card->volumes.size(), 2u);
  EXPECT_EQ(card->volumes[0].path, "\\\\.\\E:");
  EXPECT_EQ(card->volumes[0].partition, 1u);
  EXPECT_TRUE(card->volumes[0].removable);
  EXPECT_EQ(card->volumes[0].label, "SHOW");
  EXPECT_EQ(card->volumes[0].serial, 0x1A2B3C4Du);
  EXPECT_EQ(card->volumes[0].fileSystem, "FAT");
  // An unformatted partition still is a volume, whose information is unknown.
  EXPECT_EQ(card->volumes[1].path, "\\\\.\\F:");
  EXPECT_EQ(card->volumes[1].label, "UNKNOWN");
  EXPECT_EQ(card->volumes[1].serial, 0u);
  EXPECT_EQ(card->volumes[1].fileSystem, "UNKNOWN");
}

TEST_F(LinuxDriveSourceTest, NumbersFollowNaturalNameOrderAndSkipVirtualDisks) {
  for (const char* name : {"sdaa", "sdb", "mmcblk10", "mmcblk2", "sda", "loop0", "zram0", "sr0",
                           "mmcblk0boot0", "nvme0n1", "vda"}) {
    fixture.AddDisk(name, 2048, Bus::kVirtual);
  }
  fixture.AddDisk("md0", 2048, Bus::kVirtual);
  fixture.AddDisk("dm-0", 2048, Bus::kVirtual);
  Refresh();
  std::vector<std::string> byNumber(7);
  for (const PhysicalDriveInfo* drive : table.Drives()) {
    ASSERT_LT(drive->number, 7);
    byNumber[drive->number] = drive->node.substr(drive->node.rfind('/') + 1);
  }
  EXPECT_EQ(byNumber, (std::vector<std::string>{"sda", "sdb", "vda", "nvme0n1", "sdaa", "mmcblk2",
                                                 "mmcblk10"}));  // shorter letter runs first
  EXPECT_TRUE(CLinuxDriveSource::NaturalLess("sdb", "sdaa"));
  EXPECT_TRUE(CLinuxDriveSource::NaturalLess("sdz", "sdaa"));
  EXPECT_FALSE(CLinuxDriveSource::NaturalLess("sdaa", "sdz"));
  EXPECT_FALSE(CLinuxDriveSource::NaturalLess("sda", "sda"));
}

TEST_F(LinuxDriveSourceTest, RemovableMeansTheKernelFlagOrAUsbOrMmcBus) {
  fixture.AddDisk("sda", 2048, Bus::kAta);
  fixture.AddDisk("sdb", 2048, Bus::kAta, /*removableFlag=*/true);
  fixture.AddDisk("sdc", 2048, Bus::kUsb);
  fixture.AddDisk("mmcblk0", 2048, Bus::kMmc);
  Refresh();
  EXPECT_FALSE(table.FindDrive(0)->removable);
  EXPECT_TRUE(table.FindDrive(1)->removable);
  EXPECT_TRUE(table.FindDrive(2)->removable);
  EXPECT_TRUE(table.FindDrive(3)->removable);
}

TEST_F(LinuxDriveSourceTest, UnreadableGeometryOrAnEmptyReaderIsNotValid) {
  fixture.AddDisk("sda", 2048, Bus::kUsb);
  fixture.AddDisk("sdb", 0, Bus::kUsb);  // reader without a card
  fixture.AddDisk("sdc", 2048, Bus::kUsb);
  fixture.SetAttribute("sdc", "queue/logical_block_size", "garbage");
  fixture.AddDisk("sdd", 2048, Bus::kUsb, false, 4096);
  Refresh();
  EXPECT_TRUE(table.FindDrive(0)->geometryValid);
  EXPECT_FALSE(table.FindDrive(1)->geometryValid);
  EXPECT_FALSE(table.FindDrive(2)->geometryValid);
  ASSERT_TRUE(table.FindDrive(3)->geometryValid);
  EXPECT_EQ(table.FindDrive(3)->geometry.bytesPerSector, 4096u);
  EXPECT_EQ(table.FindDrive(3)->geometry.diskSize, 2048u * 512u);
  EXPECT_EQ(table.FindDrive(3)->sectorCount, 256u);
}

TEST_F(LinuxDriveSourceTest, WholeDiskVolumesNeedAFilesystemOrAMount) {
  fixture.AddDisk("sda", 65536, Bus::kUsb);  // superfloppy card
  fixture.WriteFat16("sda", "CARD", 0x00C0FFEE);
  fixture.AddDisk("sdb", 65536, Bus::kUsb);  // blank, e.g. a VORN disk
  fixture.AddDisk("sdc", 65536, Bus::kUsb);  // unknown filesystem, but mounted
  fixture.Mount("sdc", "/media/user/X");
  Refresh();
  ASSERT_EQ(table.FindDrive(0)->volumes.size(), 1u);
  EXPECT_EQ(table.FindDrive(0)->volumes[0].partition, 0u);
  EXPECT_EQ(table.FindDrive(0)->volumes[0].label, "CARD");
  EXPECT_EQ(table.FindDrive(0)->volumes[0].path, "\\\\.\\D:");
  EXPECT_TRUE(table.FindDrive(1)->volumes.empty());
  ASSERT_EQ(table.FindDrive(2)->volumes.size(), 1u);
  EXPECT_EQ(table.FindDrive(2)->volumes[0].path, "\\\\.\\E:");
  EXPECT_TRUE(table.FindDrive(2)->inUse);
  EXPECT_FALSE(table.FindDrive(2)->holdsSystem);
}

TEST_F(LinuxDriveSourceTest, SystemFilesystemsSwapAndMappedDevicesMarkTheirDrive) {
  fixture.AddDisk("sda", 8192, Bus::kUsb);  // boots from USB: /boot/efi here
  fixture.AddPartition("sda", 1, 4096);
  fixture.Mount("sda1", "/boot/efi/");
  fixture.AddDisk("sdb", 8192, Bus::kUsb);  // swap partition
  fixture.AddPartition("sdb", 1, 4096);
  fixture.AddSwap("sdb1");
  fixture.AddDisk("sdc", 8192, Bus::kUsb);  // / on dm-crypt over sdc2
  fixture.AddPartition("sdc", 1, 2048);
  fixture.AddPartition("sdc", 2, 4096);
  fixture.AddMapped("dm-0", "sdc2");
  fixture.Mount("dm-0", "/");
  fixture.AddDisk("sdd", 8192, Bus::kUsb);  // btrfs /var, found by its source
  fixture.AddPartition("sdd", 1, 4096);
  fixture.MountBySourceOnly("sdd1", "/var");
  fixture.AddDisk("sde", 8192, Bus::kUsb);  // an LVM member nothing mounts
  fixture.AddPartition("sde", 1, 4096);
  fixture.AddMapped("dm-1", "sde1");
  fixture.AddDisk("sdf", 8192, Bus::kUsb);  // a plain card
  fixture.AddPartition("sdf", 1, 4096);
  Refresh();
  for (int n : {0, 1, 2, 3}) {
    EXPECT_TRUE(table.FindDrive(n)->holdsSystem) << n;
    EXPECT_TRUE(table.FindDrive(n)->inUse) << n;
  }
  EXPECT_TRUE(table.HoldsLetter(2, 'C'));
  EXPECT_EQ(table.FindDrive(2)->volumes[0].path, "\\\\.\\C:");  // sdc2 holds / and comes first
  EXPECT_FALSE(table.FindDrive(4)->holdsSystem);
  EXPECT_TRUE(table.FindDrive(4)->inUse);
  EXPECT_FALSE(table.FindDrive(5)->holdsSystem);
  EXPECT_FALSE(table.FindDrive(5)->inUse);
}

TEST_F(LinuxDriveSourceTest, DrivesBeyondTwentySixAndMissingNodesGetNoRecord) {
  for (char c = 'a'; c <= 'z'; ++c) fixture.AddDisk(std::string("sd") + c, 2048, Bus::kUsb);
  fixture.AddDisk("sdaa", 2048, Bus::kUsb);  // the 27th drive
  fixture.AddPartition("sdaa", 1, 1024);
  fixture.AddPartition("sdc", 1, 1024);
  std::filesystem::remove(fixture.Node("sdc"));
  Refresh();
  EXPECT_EQ(table.Drives().size(), 25u);
  EXPECT_EQ(table.FindDrive(2), nullptr);
  EXPECT_EQ(table.FindDrive(25)->node, fixture.Node("sdz"));
  for (const PhysicalDriveInfo* drive : table.Drives()) EXPECT_TRUE(drive->volumes.empty());
}

TEST_F(LinuxDriveSourceTest, ExtendedContainersAreNoVolumes) {
  fixture.AddDisk("sda", 8192, Bus::kUsb);
  fixture.AddPartition("sda", 1, 2048);
  fixture.AddPartition("sda", 2, 2);  // the container of logical partitions
  fixture.AddPartition("sda", 5, 2048);
  // Partitions count from 1: a "partition" file reading 0 is no partition,
  // and neither a volume nor a drive of its own.
  fixture.AddPartition("sda", 0, 2048);
  Refresh();
  ASSERT_EQ(table.FindDrive(0)->volumes.size(), 2u);
  EXPECT_EQ(table.FindDrive(0)->volumes[1].partition, 5u);
  EXPECT_EQ(table.FindDrive(1), nullptr);
}

TEST(MountTableTest, ReadsEscapedMountPointsAndSwapPartitionsOnly) {
  CDriveFixture fixture;
  {
    std::ofstream out(fixture.Dir() + "/mi");
    out << "36 35 8:17 / /media/user/MY\\040CARD rw,nosuid shared:1 master:2 - vfat /dev/sdb1 rw\n"
        << "garbage\n";
    std::ofstream swaps(fixture.Dir() + "/sw");
    swaps << "Filename Type Size Used Priority\n/dev/dm-1 partition 100 0 -2\n/swapfile file 10 0 -3\n";
  }
  const std::vector<MountRecord> mounts = ReadMountInfo(fixture.Dir() + "/mi");
  ASSERT_EQ(mounts.size(), 1u);
  EXPECT_EQ(mounts[0].device, "8:17");
  EXPECT_EQ(mounts[0].mountPoint, "/media/user/MY CARD");
  EXPECT_EQ(mounts[0].source, "/dev/sdb1");
  EXPECT_EQ(ReadSwapPartitions(fixture.Dir() + "/sw"), std::vector<std::string>{"/dev/dm-1"});
  EXPECT_TRUE(ReadMountInfo(fixture.Dir() + "/missing").empty());
  EXPECT_TRUE(IsSystemMountPoint("/"));
  EXPECT_TRUE(IsSystemMountPoint("/boot/efi"));
  EXPECT_FALSE(IsSystemMountPoint("/media/user/CARD"));
  EXPECT_FALSE(IsSystemMountPoint("/home/user/card"));
}

TEST(VolumeProbeTest, SerialsFromVolumeIds) {
  EXPECT_EQ(SerialFromUuid("1A2B-3C4D"), 0x1A2B3C4Du);
  EXPECT_EQ(SerialFromUuid("0123456789ABCDEF"), 0x89ABCDEFu);
  EXPECT_EQ(SerialFromUuid("6b3f8c2a-0f0e-4d4b-9b1e-3f1c0a9e7d21"), 0u);
  EXPECT_EQ(SerialFromUuid("XYZW-3C4D"), 0u);
  EXPECT_FALSE(ProbeVolume("/nonexistent/node").found);
}

}  // namespace
}  // namespace vorn
