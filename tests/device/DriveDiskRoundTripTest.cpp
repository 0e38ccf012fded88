// A VORN disk on a card in a (fixture) card reader: picked from discovery like
// the window picks it, then formatted, filled, read back and shortened, each
// step one user action with a fresh CDriveAccess.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "device/DeviceExceptions.h"
#include "device/DriveAccess.h"
#include "device/DriveDiscovery.h"
#include "device/LinuxDriveSource.h"
#include "disk/VornDisk.h"
#include "tests/device/DriveFixture.h"

namespace vorn {
namespace {

using test::Bus;

class DriveDiskRoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_fixture.AddDisk("sda", 65536, Bus::kAta);
    m_fixture.AddPartition("sda", 1, 65536);
    m_fixture.Mount("sda1", "/");
    m_fixture.AddDisk("sdb", 8192, Bus::kUsb);  // a 4 MiB card
    CLinuxDriveSource source(m_fixture.Roots());
    std::vector<DeviceEntry> drives;
    EnumerateDrives(drives, source);
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].text, "PhysicalDrive1 (4.00MB) ()");
    m_entry = drives[0];
  }

  template <class Action>
  void WithDisk(Action action) {
    CDriveAccess device(m_fixture.Roots());
    device.Open(m_entry);
    {
      CVornDisk disk(device, nullptr);
      disk.ReadTable();
      action(disk, device);
    }
    device.Close();
  }

  static void Append(CVornDisk& disk, CSectorDevice& device, const char* title, std::uint32_t length) {
    RoutineEntry entry;
    std::strncpy(entry.title.data(), title, entry.title.size());
    entry.startSector = disk.NextFreeSector();
    entry.dataSector = entry.startSector + length / 2;
    entry.endSector = entry.startSector + length;
    entry.frameRate = 25;
    entry.baudCode = 3;
    disk.AppendRoutine(entry, [&] {
      std::vector<std::uint8_t> data(128 * kSectorSize, static_cast<std::uint8_t>(title[0]));
      for (std::uint32_t done = 0; done < length; done += 128) {
        device.WriteSectors(entry.startSector + done, std::min(128u, length - done), data.data());
      }
    });
  }

  test::CDriveFixture m_fixture;
  DeviceEntry m_entry;
};

TEST_F(DriveDiskRoundTripTest, FormatAppendReadRemove) {
  WithDisk([](CVornDisk& disk, CSectorDevice&) {
    EXPECT_FALSE(disk.IsValid());  // a blank card
    disk.Format();
  });
  WithDisk([](CVornDisk& disk, CSectorDevice& device) {
    ASSERT_TRUE(disk.IsValid());
    EXPECT_TRUE(disk.Table().empty());
    Append(disk, device, "Opening", 100);
    Append(disk, device, "Finale", 300);
  });
  std::vector<RoutineEntry> written;
  WithDisk([&](CVornDisk& disk, CSectorDevice& device) {
    ASSERT_TRUE(disk.IsValid());
    ASSERT_EQ(disk.Table().size(), 2u);
    EXPECT_EQ(disk.Table()[0].Title(), "Opening");
    EXPECT_EQ(disk.Table()[1].Title(), "Finale");
    written = disk.Table();
    std::vector<std::uint8_t> sector(kSectorSize);
    device.ReadSectors(disk.Table()[1].endSector - 1, 1, sector.data());
    EXPECT_EQ(sector[0], 'F');
    disk.RemoveLastRoutine();
  });
  WithDisk([&](CVornDisk& disk, CSectorDevice&) {
    ASSERT_EQ(disk.Table().size(), 1u);
    EXPECT_EQ(disk.Table()[0], written[0]);
  });
  // The card's own bytes carry the disk: the image never grew.
  EXPECT_EQ(std::filesystem::file_size(m_fixture.Node("sdb")), 8192u * 512u);
}

TEST_F(DriveDiskRoundTripTest, TheCardCannotBeReachedOnceItIsMounted) {
  WithDisk([](CVornDisk& disk, CSectorDevice&) { disk.Format(); });
  m_fixture.AddPartition("sdb", 1, 4096);
  m_fixture.Mount("sdb1", "/media/user/CARD");
  CDriveAccess device(m_fixture.Roots());
  try {
    device.Open(m_entry);
    FAIL() << "opened a mounted card";
  } catch (const CUsbDeviceException& error) {
    EXPECT_EQ(error.GetMessage().substr(0, error.GetMessage().find('\n')), "Could not open drive");
  }
  device.Close();
}

}  // namespace
}  // namespace vorn
